#pragma once

// A scripted RFC 2217 server on 127.0.0.1, one connection at a time, keeping all it heard.

#include <arpa/inet.h>
#include <libtelnet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/network/telnet_com_port.h"

namespace lt::test {

class ComPortServer {
public:
    enum class Mode {
        Answer,            // negotiates and answers every command
        SilentOnSettings,  // negotiates, never answers the line settings
        NoComPort,         // refuses COM-PORT-OPTION
        Mute,              // takes the connection and never says a word
        Raw,               // a bare TCP stream: no Telnet at all
    };

    explicit ComPortServer(Mode mode = Mode::Answer) : mode_(mode) {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), len);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ComPortServer() {
        ::shutdown(listener_, SHUT_RDWR);  // ends a wait for a connection
        drop();
        thread_.join();
        ::close(listener_);
    }

    int port() const { return port_; }
    std::string rfc2217Name() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
    std::string tcpName() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

    // Faster baud rates are answered with what the server has.
    std::atomic<int> maxBaud{1'000'000};

    struct Line {
        std::uint32_t baud = 9600;
        int data = 8, parity = 1, stop = 1;
        bool operator==(const Line&) const = default;
    };
    struct Heard {
        Line line;
        std::string bytes;
        std::vector<unsigned char> commands;
        std::vector<int> controls;
    };
    Heard heard() const {
        std::lock_guard lock(mu_);
        return heard_;
    }

    void sendData(const std::string& bytes) {
        std::lock_guard lock(mu_);
        if (telnet_)
            telnet_send(telnet_, bytes.data(), bytes.size());
        else
            writeLocked(bytes.data(), bytes.size());
    }
    void notifyModemState(unsigned char state) {
        std::lock_guard lock(mu_);
        messageLocked(comport::NotifyModemState, std::string(1, static_cast<char>(state)));
    }
    void suspend(bool on) {
        std::lock_guard lock(mu_);
        messageLocked(on ? comport::FlowControlSuspend : comport::FlowControlResume, {});
    }
    void drop() {
        std::lock_guard lock(mu_);
        if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
    }

private:
    void messageLocked(unsigned char code, const std::string& value) {
        if (!telnet_) return;
        const std::string body = static_cast<char>(code + comport::kServerOffset) + value;
        telnet_subnegotiation(telnet_, comport::kOption, body.data(), body.size());
    }

    void writeLocked(const char* bytes, std::size_t size) {
        for (std::size_t done = 0; client_ >= 0 && done < size;) {
            const ssize_t n = ::send(client_, bytes + done, size - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // Muted: connections wait in the listener's queue. Otherwise one at a time.
    void run() {
        for (int fd; mode_ != Mode::Mute &&
                     (fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            {
                std::lock_guard lock(mu_);
                client_ = fd;
                if (mode_ != Mode::Raw)
                    telnet_ = telnet_init(mode_ == Mode::NoComPort ? kRefusing : kOptions,
                                          &ComPortServer::onEvent, 0, this);
            }
            char buf[4096];
            for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
                std::lock_guard lock(mu_);
                if (telnet_)
                    telnet_recv(telnet_, buf, static_cast<std::size_t>(n));
                else
                    heard_.bytes.append(buf, static_cast<std::size_t>(n));
            }
            std::lock_guard lock(mu_);
            if (telnet_) telnet_free(telnet_);
            telnet_ = nullptr;
            ::close(fd);
            client_ = -1;
        }
    }

    static void onEvent(telnet_t*, telnet_event_t* e, void* self) {
        static_cast<ComPortServer*>(self)->handle(*e);
    }

    // Called with mu_ held.
    void handle(const telnet_event_t& e) {
        if (e.type == TELNET_EV_DATA) heard_.bytes.append(e.data.buffer, e.data.size);
        if (e.type == TELNET_EV_SEND) writeLocked(e.data.buffer, e.data.size);
        if (e.type == TELNET_EV_SUBNEGOTIATION && e.sub.telopt == comport::kOption && e.sub.size)
            command(static_cast<unsigned char>(e.sub.buffer[0]),
                    std::string(e.sub.buffer + 1, e.sub.size - 1));
    }

    void command(unsigned char code, const std::string& value) {
        heard_.commands.push_back(code);
        if (code == comport::SetControl && value.size() == 1)
            heard_.controls.push_back(static_cast<unsigned char>(value[0]));
        if (mode_ == Mode::SilentOnSettings && code >= comport::SetBaudRate &&
            code <= comport::SetStopSize)
            return;
        // A one-byte setting is taken when within [low, high]; the answer is what the server has.
        const auto setting = [&](int& held, int low, int high) {
            const int asked = value.size() == 1 ? static_cast<unsigned char>(value[0]) : 0;
            if (asked >= low && asked <= high) held = asked;
            return std::string(1, static_cast<char>(held));
        };
        std::string answer = value;
        if (code == comport::SetBaudRate) {
            const std::uint32_t asked = comport::fromBigEndian32(value);
            if (asked != 0 && asked <= static_cast<std::uint32_t>(maxBaud.load()))
                heard_.line.baud = asked;
            answer = comport::bigEndian32(heard_.line.baud);
        } else if (code == comport::SetDataSize) {
            answer = setting(heard_.line.data, 5, 8);
        } else if (code == comport::SetParity) {
            answer = setting(heard_.line.parity, 1, 5);
        } else if (code == comport::SetStopSize) {
            answer = setting(heard_.line.stop, 1, 2);
        }
        messageLocked(code, answer);
    }

    // Binary and no go-ahead both ways; COM-PORT-OPTION agreed unless told to refuse.
    inline static const telnet_telopt_t kOptions[] = {
        {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
        {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
        {comport::kOption, TELNET_WONT, TELNET_DO},
        {-1, 0, 0},
    };
    inline static const telnet_telopt_t kRefusing[] = {
        {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
        {-1, 0, 0},
    };

    Mode mode_;
    int listener_ = -1;
    int port_ = 0;
    mutable std::mutex mu_;
    int client_ = -1;
    telnet_t* telnet_ = nullptr;
    Heard heard_;
    std::thread thread_;
};

}  // namespace lt::test
