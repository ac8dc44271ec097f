#include "sim/sim_line.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace lt::sim {

SimLine::SimLine(VirtualLoop& loop, int portNumber)
    : loop_(loop), name_(PortName::number(portNumber)) {}

void SimLine::setPortName(const PortName& name) {
    if (open_) throw PortError("port is open");
    name_ = name;
}

void SimLine::setLineSettings(const std::string& text) {
    const auto s = parseLineSettings(text);
    if (!s) throw PortError("invalid settings: " + text);
    if (open_) {
        if (driverTakes && !driverTakes(*s))
            throw SettingsRefused("settings refused by the driver: " + text);
        device_ = *s;
    }
    settings_ = *s;
}

void SimLine::setOpen(bool open) {
    if (open && open_) throw PortError("port already open");
    if (open && missing) throw PortError("no such device");
    if (open && busy) throw PortError("device busy");
    rx_.clear();  // on a close, what a vanished device left goes too
    if (open == open_) return;
    open_ = open;
    if (open) {
        ++opens;
        state_ = CommState{};
        if (driverTakes && !driverTakes(settings_)) {
            const std::string refused = settings_.text();
            settings_ = device_;
            logLines();
            throw SettingsRefused("settings refused by the driver: " + refused);
        }
        device_ = settings_;
    } else {
        ++generation_;
        errors_.clear();
        tx_.clear();
        transmitting_ = false;
    }
    logLines();
}

std::size_t SimLine::receivedLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const {
    std::size_t length = 0;
    Nanos previous = 0;
    for (const auto& b : rx_) {
        if (length >= maxBytes) break;
        if (length > 0 && pauseCuts(previous, b.at, gapLimit, gapsFrom)) break;
        previous = b.at;
        ++length;
    }
    return length;
}

std::string SimLine::takeReceived(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom,
                                  Nanos* firstArrival) {
    if (rx_.empty()) requireOpen();
    if (!landingOnRead.empty()) {
        for (unsigned char b : std::exchange(landingOnRead, {})) rx_.push_back({loop_.now(), b});
        raiseLater(PortEvent::Received);
    }
    if (firstArrival) *firstArrival = rx_.empty() ? 0 : rx_.front().at;
    std::string out;
    for (std::size_t n = receivedLength(maxBytes, gapLimit, gapsFrom); n > 0; --n) {
        out += static_cast<char>(rx_.front().value);
        rx_.pop_front();
    }
    return out;
}

void SimLine::limitBacklog(std::size_t maxBytes) {
    backlogLimit_ = maxBytes;
    // The newest bytes past the new limit go, as if they had come after it was set.
    while (rx_.size() > backlogLimit_) rx_.pop_back();
}

void SimLine::send(const std::string& bytes) {
    requireOpen();
    if (!backlog_.admits(tx_.size(), bytes.size())) return;
    tx_ += bytes;
    if (!transmitting_ && !tx_.empty()) {
        transmitting_ = true;
        logLines();
        transmitNext();
    }
}

void SimLine::transmitNext() {
    const unsigned gen = generation_;
    loop_.postAfter(characterTime(), [this, gen] {
        if (gen != generation_ || tx_.empty()) return;
        received_.push_back({loop_.now(), static_cast<unsigned char>(tx_.front())});
        tx_.erase(0, 1);
        if (!tx_.empty()) return transmitNext();
        transmitting_ = false;
        logLines();
        raise(PortEvent::Sent);
    });
}

void SimLine::setRts(bool on) {
    rts_ = on;
    logLines();
}

void SimLine::setDtr(bool on) {
    dtr_ = on;
    logLines();
}

int SimLine::readCommState(CommState& state) {
    if (!open_) return EBADF;
    if (getStateError) return getStateError;
    state = state_;
    return 0;
}

int SimLine::writeCommState(const CommState& state) {
    ++stateWrites;
    if (!open_) return EBADF;
    if (setStateError) return setStateError;
    state_ = state;
    // The comm state asserts DTR, and RTS where it is steady.
    dtr_ = true;
    if (state_.rts == RtsControl::Steady) rts_ = true;
    logLines();
    return 0;
}

void SimLine::logLines() {
    const Lines now{loop_.now(), peerSeesRts(), peerSeesDtr()};
    if (!lineLog_.empty() && lineLog_.back().rts == now.rts && lineLog_.back().dtr == now.dtr)
        return;
    lineLog_.push_back(now);
}

void SimLine::raiseLater(PortEvent event, Nanos delay) {
    const unsigned gen = generation_;
    loop_.postAfter(delay, [this, gen, event] {
        if (gen == generation_ && open_) raise(event);
    });
}

void SimLine::peerSend(const std::string& bytes) {
    const Nanos step = characterTime();
    Nanos at = std::max(peerFreeAt_, loop_.now());
    for (unsigned char b : bytes) {
        at += step;
        loop_.post(at, [this, b] {
            if (!open_) return;                       // nobody listens on a closed port
            if (rx_.size() >= backlogLimit_) return;  // full: nothing arrives, nothing is raised
            rx_.push_back({loop_.now(), b});
            if (eventLatency == 0)
                raise(PortEvent::Received);
            else
                raiseLater(PortEvent::Received, eventLatency);
        });
    }
    peerFreeAt_ = at;
}

void SimLine::peerSetRts(bool on) {
    if (peerRts_ == on) return;
    peerRts_ = on;
    raiseLater(PortEvent::CtsChanged);
}

void SimLine::peerLineError(LineError kind, std::uint32_t count) {
    if (!open_) return;
    errors_.push_back({kind, loop_.now(), count});
    raiseLater(PortEvent::LineErrors);
}

// The peer's DTR drives our DSR and DCD, its CD our DCD alone.
void SimLine::peerSetInput(bool& level, bool on, bool isDtr) {
    if (level == on) return;
    const bool dcdBefore = peerDtr_ || peerCd_;
    level = on;
    if (isDtr) raiseLater(PortEvent::DsrChanged);
    if ((peerDtr_ || peerCd_) != dcdBefore) raiseLater(PortEvent::DcdChanged);
}

void SimLine::peerVanish() {
    if (!open_) return;
    const std::deque<Byte> kept = rx_;
    setOpen(false);
    rx_ = kept;
    loop_.postAfter(0, [this] { raise(PortEvent::Lost); });
}

std::string SimLine::peerReceived() const {
    std::string s;
    for (const auto& b : received_) s += static_cast<char>(b.value);
    return s;
}

}  // namespace lt::sim
