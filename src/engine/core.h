#pragma once

#include <QLocale>
#include <array>
#include <memory>
#include <string>

#include "engine/channel.h"
#include "engine/form.h"
#include "engine/host.h"
#include "engine/record_sink.h"
#include "engine/timer.h"
#include "engine/types.h"
#include "ports/serial_port.h"

namespace lt {

// The whole program without its window: the form state, the run and channel state, and every
// handler. Handlers run one at a time on the event loop's thread and read and write the state
// directly, as the event handlers of a form do. The window calls the handlers for widget events
// and shows the form state; timers and serial ports reach the handlers through the Host.
class Core {
public:
    Core(Host& host, SerialPort& comm1, SerialPort& comm2, RecordSink& records,
         QLocale locale = QLocale::system());
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    Host& host;
    RecordSink& records;
    QLocale Locale;  // number parsing, dates and month names
    Form form;

    // --- Run state shared by every subsystem -------------------------------------------------
    i16 Running = 0;
    i16 gapMs = 10;
    i16 pollMs = 100;
    i16 lineDelayMs = 100;
    i16 Screen_Row = 0;
    i16 Recording = 0;
    std::string recordFolder;  // record folder, always ends with "/" once loaded or saved
    Nanos Run_Started = 0;     // monotonic time of the last Start: bytes waiting from before it
                               // join the first packet after it, whatever pause lies between

    // --- The two capture channels ------------------------------------------------------------
    Channel port1, port2;
    SerialPort& MSComm1;
    SerialPort& MSComm2;
    i16& Open_Port1 = port1.Open;
    i16& Open_Port2 = port2.Open;
    std::string& Data_Port1 = port1.Data;
    std::string& Data_Port2 = port2.Data;
    std::string& View_Port1 = port1.View;
    std::string& View_Port2 = port2.View;
    i16& Mode_Port1 = port1.Mode;
    i16& Mode_Port2 = port2.Mode;
    i16& Pending_Port1 = port1.Pending;
    i16& Pending_Port2 = port2.Pending;

    Channel& other(const Channel& c) { return c.Number == 1 ? port2 : port1; }
    Channel& channel(int number) { return number == 1 ? port1 : port2; }

    // --- Timers ------------------------------------------------------------------------------
    std::unique_ptr<Timer> Timer1;  // poll tick
    std::unique_ptr<Timer> Timer2;  // apply of port 1's choices
    std::unique_ptr<Timer> Timer3;  // apply of port 2's choices
    std::unique_ptr<Timer> Timer5;  // end of a port 1 packet
    std::unique_ptr<Timer> Timer6;  // end of a port 2 packet
    std::unique_ptr<Timer> Timer7;  // delayed relay into port 1
    std::unique_ptr<Timer> Timer8;  // delayed relay into port 2

    // --- Signal history ----------------------------------------------------------------------
    std::array<i16, 10> Signals_Snapshot{};
    i16 Signals_Same = 0;

    // Called after every handler that the event loop ran (timer ticks, port events), so the
    // window can show what changed. Widget events refresh the window themselves.
    std::function<void()> Changed;

    // --- Check boxes: a tick changed by the program raises the same click as the user's ------
    void Set_Check(int number, int value);
    void Check_Click(int number);

    // --- Capture engine ----------------------------------------------------------------------
    void Read_Line_States(Channel& c);
    void Clear_Channel(Channel& c);
    void On_Port_Event(Channel& c);
    void Finish_Packet(Channel& c);
    void Poll_Tick();

    // --- Port configuration, outputs, strobe, line tracking ---------------------------------
    void Switch_Click(Channel& c);            // Check10 / Check11
    void Combo_Click(Channel& c, int index);  // a list entry was picked in box `index`
    void Apply_Settings(Channel& c);          // Timer2 / Timer3
    void Rts_Click(Channel& c);               // Check1 / Check3
    void Dtr_Click(Channel& c);               // Check2 / Check4
    void RTS_Storb(Channel& c);               // also Check13 / Check14
    void RTS_Storb_Port1() { RTS_Storb(port1); }
    void RTS_Storb_Port2() { RTS_Storb(port2); }
    void DCB_Read(SerialPort& port, CommState& state);
    void DCB_Write(SerialPort& port, CommState& state, std::uint32_t flags);
    void Service_Relay_Click(Channel& source);  // Check7 / Check8
    void Line_Change(Channel& c);
    void Line_Change_Port1() { Line_Change(port1); }
    void Line_Change_Port2() { Line_Change(port2); }
    void Service_Timer_Tick(Channel& target);  // Timer7 (into port 1) / Timer8 (into port 2)
    void Port_Lost(Channel& c);                // the backend closed a vanished device

    // --- Presentation and recording ----------------------------------------------------------
    void Option_Click(int number);   // Option1..Option4
    void Decoder_Pacet(Channel& c);  // Decoder_Pacet / Decoder_Pacet2
    void Screen_Packet_Row(Channel& c);
    void Screen_Poll_Row();
    void Screen_Signal_Row(Channel& c);
    void Signals_Srav();
    void Signals_Arh();
    void Record_Click();  // Check12 "Запись"
    void Record_Write(const std::string& data1, const std::string& data2);

    // --- Run control -------------------------------------------------------------------------
    void Start_Capture();                     // Command1 "Пуск"
    void Stop_Capture();                      // Command2 "Стоп"
    void Apply_Interval();                    // Command7 "ОК"
    void Mode_Click();                        // Check9 "Авт."
    void Set_Text2(const std::string& text);  // any change of Text2's text
    void Text2_Change();

    // --- Start-up, shutdown and settings -----------------------------------------------------
    void Form_Load();
    void Form_Unload();                        // window close
    void mnu_Exit_Click();                     // "Выход"
    void mnu_Prop_Click();                     // "Настройка"
    void Command4_Click();                     // "Сохранить"
    void Command5_Click();                     // "поиск" / "закрыть"
    void Command6_Click();                     // "Выйти"
    void Dir_Change(const std::string& path);  // the folder picker moved
    void Settings_Load();

private:
    void wireTimer(std::unique_ptr<Timer>& t, void (Core::*handler)());
    void dispatched();  // after an event-loop handler
    void Timer1_Tick() { Poll_Tick(); }
    void Timer2_Tick() { Apply_Settings(port1); }
    void Timer3_Tick() { Apply_Settings(port2); }
    void Timer5_Tick() { Finish_Packet(port1); }
    void Timer6_Tick() { Finish_Packet(port2); }
    void Timer7_Tick() { Service_Timer_Tick(port1); }
    void Timer8_Tick() { Service_Timer_Tick(port2); }

    Nanos packetDue(const Channel& c, Nanos now) const;
    void startGapTimer(Channel& c);
    void beginPacket(Channel& c);
    void showData(Channel& c);  // the packet cell and length label of row Screen_Row
    void advanceRow();
};

// Runs one step of a failure-tolerant section: a step that a port refuses is skipped.
template <class F>
void tolerant(F&& step) {
    try {
        step();
    } catch (const PortError&) {
    }
}

}  // namespace lt
