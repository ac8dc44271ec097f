#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <string>

struct telnet_t;
union telnet_event_t;

namespace lt {

// The codes of Telnet Com Port Control (RFC 2217). A server answers a command with its code plus
// kServerOffset.
namespace comport {
constexpr unsigned char kOption = 44;  // COM-PORT-OPTION
constexpr unsigned char kServerOffset = 100;
enum Command : unsigned char {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
// SET-CONTROL values.
constexpr unsigned char kNoFlowControl = 1, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12,
                        kNoInboundFlowControl = 14;
// NOTIFY-MODEMSTATE bits.
constexpr unsigned char kCts = 0x10, kDsr = 0x20, kDcd = 0x80;
// PURGE-DATA: both the server's receive and transmit buffers.
constexpr unsigned char kPurgeBoth = 3;

// A 32-bit value as the protocol carries it (network byte order).
std::string bigEndian32(std::uint32_t value);
std::uint32_t fromBigEndian32(const std::string& bytes);
}  // namespace comport

// The Telnet layer of a client that talks Com Port Control: option negotiation (COM-PORT-OPTION,
// binary transmission, suppress go-ahead), IAC escaped in what is sent and unescaped in what is
// received, and the com-port subnegotiations. libtelnet does the Telnet part. No sockets here: the
// owner feeds what the connection brought and sends what `send` hands out. Not thread-safe.
class TelnetComPort {
public:
    struct Handlers {
        std::function<void(const char* bytes, std::size_t size)> data;  // the line's bytes
        std::function<void(const char* bytes, std::size_t size)> send;  // for the connection
        // A server's com-port message: its code less kServerOffset, and its value.
        std::function<void(unsigned char command, const std::string& value)> comPort;
        // The server agreed to COM-PORT-OPTION (true) or refused it (false).
        std::function<void(bool agreed)> negotiated;
        // The stream broke the Telnet rules past repair.
        std::function<void(const std::string& why)> fault;
    };

    explicit TelnetComPort(Handlers handlers);
    ~TelnetComPort();
    TelnetComPort(const TelnetComPort&) = delete;
    TelnetComPort& operator=(const TelnetComPort&) = delete;

    // Asks for COM-PORT-OPTION, binary transmission both ways and no go-ahead.
    void start();
    // What the connection brought.
    void received(const char* bytes, std::size_t size);
    // The line's bytes, IAC doubled.
    void sendData(const char* bytes, std::size_t size);
    // A com-port command with its value.
    void command(unsigned char command, const std::string& value);

private:
    static void onEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void handle(const telnet_event_t& event);
    void negotiate(unsigned char verb, unsigned char option);

    Handlers handlers_;
    telnet_t* telnet_ = nullptr;
    // Options this side has said it will use (WILL), asked the server to use (DO), and refused.
    std::bitset<256> will_, do_, refused_;
};

}  // namespace lt
