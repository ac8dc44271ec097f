#include "engine/core.h"

namespace lt {

namespace {

void bindColumns(Channel& c, Form& f) {
    const bool one = c.Number == 1;
    c.SwitchBox = one ? 10 : 11;
    c.RtsBox = one ? 1 : 3;
    c.DtrBox = one ? 2 : 4;
    c.DataRelayBox = one ? 5 : 6;
    c.ServiceRelayBox = one ? 7 : 8;
    c.StrobeBox = one ? 13 : 14;
    c.BitOption = one ? 1 : 3;
    c.TextOption = one ? 2 : 4;
    c.Combo = one ? &f.Combo1 : &f.Combo2;
    c.Lamp = one ? &f.Shape1 : &f.Shape3;
    c.TextColumn = one ? &f.Text1 : &f.Text3;
    c.LengthColumn = one ? &f.Label3 : &f.Label7;
    c.Leds = one ? std::array{&f.Shape4, &f.Shape6, &f.Shape8, &f.Shape10, &f.Shape12}
                 : std::array{&f.Shape5, &f.Shape7, &f.Shape9, &f.Shape11, &f.Shape13};
}

}  // namespace

Core::Core(Host& h, SerialPort& comm1, SerialPort& comm2, RecordSink& sink, QLocale locale)
    : host(h), records(sink), Locale(std::move(locale)), MSComm1(comm1), MSComm2(comm2) {
    port1.Number = 1;
    port2.Number = 2;
    port1.Comm = &comm1;
    port2.Comm = &comm2;
    bindColumns(port1, form);
    bindColumns(port2, form);

    wireTimer(Timer1, &Core::Timer1_Tick);
    wireTimer(Timer2, &Core::Timer2_Tick);
    wireTimer(Timer3, &Core::Timer3_Tick);
    wireTimer(Timer5, &Core::Timer5_Tick);
    wireTimer(Timer6, &Core::Timer6_Tick);
    wireTimer(Timer7, &Core::Timer7_Tick);
    wireTimer(Timer8, &Core::Timer8_Tick);
    Timer1->setInterval(100);
    Timer2->setInterval(100);
    Timer3->setInterval(100);
    port1.ApplyTimer = Timer2.get();
    port2.ApplyTimer = Timer3.get();
    port1.GapTimer = Timer5.get();
    port2.GapTimer = Timer6.get();
    port1.ServiceTimer = Timer7.get();
    port2.ServiceTimer = Timer8.get();

    for (Channel* c : {&port1, &port2}) {
        c->Comm->onEvent = [this, c] {
            if (c->Comm->event() == PortEvent::Lost)
                Port_Lost(*c);
            else
                On_Port_Event(*c);
            dispatched();
        };
    }
}

void Core::wireTimer(std::unique_ptr<Timer>& t, void (Core::*handler)()) {
    t = host.createTimer();
    t->onTick = [this, handler] {
        (this->*handler)();
        dispatched();
    };
}

void Core::dispatched() {
    if (Changed) Changed();
}

void Core::Set_Check(int number, int value) {
    CheckBox& box = form.Check.at(number);
    if (box.Value == value) return;
    box.Value = value;
    Check_Click(number);
}

void Core::Check_Click(int number) {
    switch (number) {
        case 1:
            Rts_Click(port1);
            break;
        case 3:
            Rts_Click(port2);
            break;
        case 2:
            Dtr_Click(port1);
            break;
        case 4:
            Dtr_Click(port2);
            break;
        case 5:
        case 6:
            break;  // data relay: read by the capture when it has a packet to relay
        case 7:
            Service_Relay_Click(port1);
            break;
        case 8:
            Service_Relay_Click(port2);
            break;
        case 9:
            Mode_Click();
            break;
        case 10:
            Switch_Click(port1);
            break;
        case 11:
            Switch_Click(port2);
            break;
        case 12:
            Record_Click();
            break;
        case 13:
            RTS_Storb(port1);
            break;
        case 14:
            RTS_Storb(port2);
            break;
        default:
            break;
    }
}

}  // namespace lt
