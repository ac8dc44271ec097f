#include "serial/network/telnet_com_port.h"

#include <libtelnet.h>

namespace lt {

namespace comport {

std::string bigEndian32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::uint32_t fromBigEndian32(const std::string& bytes) {
    std::uint32_t v = 0;
    for (unsigned char c : bytes) v = (v << 8) | c;
    return v;
}

}  // namespace comport

namespace {

// What this side takes part in: binary and no go-ahead both ways, COM-PORT-OPTION as the client
// (it sends WILL; the server answers DO).
bool weWill(unsigned char option) {
    return option == TELNET_TELOPT_BINARY || option == TELNET_TELOPT_SGA ||
           option == comport::kOption;
}
bool weDo(unsigned char option) {
    return option == TELNET_TELOPT_BINARY || option == TELNET_TELOPT_SGA;
}

}  // namespace

// libtelnet's own negotiation does not tell when the server turns down an option this side asked
// for, and a server that refuses COM-PORT-OPTION must be told apart from one that never answers:
// so libtelnet runs in proxy mode (parsing and escaping only), and the few options are answered
// here, each state change answered once so that no two sides loop.
TelnetComPort::TelnetComPort(Handlers handlers) : handlers_(std::move(handlers)) {
    telnet_ = telnet_init(nullptr, &TelnetComPort::onEvent, TELNET_FLAG_PROXY, this);
}

void TelnetComPort::negotiate(unsigned char verb, unsigned char option) {
    telnet_negotiate(telnet_, verb, option);
}

TelnetComPort::~TelnetComPort() {
    if (telnet_) telnet_free(telnet_);
}

void TelnetComPort::start() {
    for (unsigned char option : {comport::kOption, static_cast<unsigned char>(TELNET_TELOPT_BINARY),
                                 static_cast<unsigned char>(TELNET_TELOPT_SGA)}) {
        will_.set(option);
        negotiate(TELNET_WILL, option);
        if (!weDo(option)) continue;
        do_.set(option);
        negotiate(TELNET_DO, option);
    }
}

void TelnetComPort::received(const char* bytes, std::size_t size) {
    telnet_recv(telnet_, bytes, size);
}

void TelnetComPort::sendData(const char* bytes, std::size_t size) {
    telnet_send(telnet_, bytes, size);
}

void TelnetComPort::command(unsigned char command, const std::string& value) {
    std::string body(1, static_cast<char>(command));
    body += value;
    telnet_subnegotiation(telnet_, comport::kOption, body.data(), body.size());
}

void TelnetComPort::onEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<TelnetComPort*>(self)->handle(*event);
}

void TelnetComPort::handle(const telnet_event_t& e) {
    switch (e.type) {
        case TELNET_EV_DATA:
            if (handlers_.data) handlers_.data(e.data.buffer, e.data.size);
            break;
        case TELNET_EV_SEND:
            if (handlers_.send) handlers_.send(e.data.buffer, e.data.size);
            break;
        case TELNET_EV_DO:
            if (!weWill(e.neg.telopt)) {
                negotiate(TELNET_WONT, e.neg.telopt);
                break;
            }
            if (!will_.test(e.neg.telopt)) negotiate(TELNET_WILL, e.neg.telopt);
            will_.set(e.neg.telopt);
            if (e.neg.telopt == comport::kOption && handlers_.negotiated)
                handlers_.negotiated(true);
            break;
        case TELNET_EV_DONT:
            if (will_.test(e.neg.telopt)) negotiate(TELNET_WONT, e.neg.telopt);
            will_.reset(e.neg.telopt);
            if (e.neg.telopt == comport::kOption && handlers_.negotiated)
                handlers_.negotiated(false);
            break;
        case TELNET_EV_WILL:
            if (!weDo(e.neg.telopt)) {
                if (!refused_.test(e.neg.telopt)) negotiate(TELNET_DONT, e.neg.telopt);
                refused_.set(e.neg.telopt);
                break;
            }
            if (!do_.test(e.neg.telopt)) negotiate(TELNET_DO, e.neg.telopt);
            do_.set(e.neg.telopt);
            break;
        case TELNET_EV_WONT:
            if (do_.test(e.neg.telopt)) negotiate(TELNET_DONT, e.neg.telopt);
            do_.reset(e.neg.telopt);
            break;
        case TELNET_EV_SUBNEGOTIATION:
            if (e.sub.telopt == comport::kOption && e.sub.size >= 1 && handlers_.comPort) {
                const auto code = static_cast<unsigned char>(e.sub.buffer[0]);
                // A server's message carries its code plus the offset; a client's own codes
                // (below it) are no server's and are left alone.
                if (code >= comport::kServerOffset)
                    handlers_.comPort(static_cast<unsigned char>(code - comport::kServerOffset),
                                      std::string(e.sub.buffer + 1, e.sub.size - 1));
            }
            break;
        case TELNET_EV_ERROR:
            if (handlers_.fault) handlers_.fault(e.error.msg);
            break;
        default:
            break;
    }
}

}  // namespace lt
