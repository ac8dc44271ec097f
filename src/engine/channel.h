#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/form.h"
#include "engine/timer.h"
#include "engine/types.h"
#include "ports/serial_port.h"

namespace lt {

// One capture channel: a serial port with its switch, packet, flags, timers and screen columns.
// The program has two, port 1 and port 2; every per-port procedure takes the channel it works on.
struct Channel {
    int Number = 1;              // 1 or 2
    SerialPort* Comm = nullptr;  // MSComm1 / MSComm2

    // Check-box numbers of the port's controls.
    int SwitchBox = 10;       // "Включить порт": Check10 / Check11
    int RtsBox = 1;           // "RTS": Check1 / Check3
    int DtrBox = 2;           // "DTR": Check2 / Check4
    int DataRelayBox = 5;     // "Трансляция данных": Check5 / Check6
    int ServiceRelayBox = 7;  // "Трансляция сервиса": Check7 / Check8
    int StrobeBox = 13;       // "RTS Strob": Check13 / Check14
    int BitOption = 1;        // Option1 / Option3
    int TextOption = 2;       // Option2 / Option4

    // Run state of the channel.
    i16 Open = 0;      // Open_Port1 / Open_Port2
    std::string Data;  // Data_Port1 / Data_Port2
    std::string View;  // View_Port1 / View_Port2
    i16 Mode = 1;      // Mode_Port1 / Mode_Port2: 0 "Bit", any other value "Text"
    i16 RTS = 0, DTR = 0, DCD = 0, DSR = 0, CTS = 0;
    i16 Pending = 0;  // Pending_Port1 / Pending_Port2

    Timer* GapTimer = nullptr;      // Timer5 / Timer6
    Nanos GapDue = 0;               // when the gap timer was last set to expire
    Timer* ServiceTimer = nullptr;  // Timer7 / Timer8
    Timer* ApplyTimer = nullptr;    // Timer2 / Timer3

    // Controls of the port panel and columns of the data screen.
    std::array<ComboBox, 5>* Combo = nullptr;   // Combo1 / Combo2
    std::uint32_t* Lamp = nullptr;              // Shape1 / Shape3
    Rows<std::string>* TextColumn = nullptr;    // Text1 / Text3
    Rows<std::string>* LengthColumn = nullptr;  // Label3 / Label7
    // Lamps RTS, DTR, DCD, DSR, CTS: Shape4, 6, 8, 10, 12 / Shape5, 7, 9, 11, 13.
    std::array<Rows<std::uint32_t>*, 5> Leds{};

    // The five flags in their fixed order RTS, DTR, DCD, DSR, CTS.
    std::array<i16, 5> flags() const { return {RTS, DTR, DCD, DSR, CTS}; }

    // Closes the port if it is open; a refusal leaves it as it is.
    void closePort() {
        if (!Comm->isOpen()) return;
        try {
            Comm->setOpen(false);
        } catch (const PortError&) {
        }
    }

    // Reads the packet from the port (see SerialPort::takeReceived). A read the port refuses gives
    // an empty packet, so an earlier packet is never shown, relayed or recorded a second time.
    void readPacket(std::size_t maxBytes = SerialPort::kAll, Nanos gapLimit = 0,
                    Nanos gapsFrom = 0) {
        try {
            Data = Comm->takeReceived(maxBytes, gapLimit, gapsFrom);
        } catch (const PortError&) {
            Data.clear();
        }
    }
};

}  // namespace lt
