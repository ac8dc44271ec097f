#pragma once

#include "base/host.h"
#include "serial/serial_port.h"

namespace lt {

// A serial port that opens whichever backend its name calls for: a device on this machine, or a
// line on another one ("rfc2217://...", "tcp://..."). Every call goes to the backend of the last
// opening; when the next opening needs the other backend, the settings, the outputs and the
// backlog limit move over to it first. Its owner sees one port.
class NamedPort : public SerialPort {
public:
    NamedPort(const Host& host, SerialPort& local, SerialPort& network);

    void setPortName(const PortName& name) override;
    PortName portName() const override { return active_->portName(); }
    void setLineSettings(const std::string& text) override { active_->setLineSettings(text); }
    std::string lineSettings() const override { return active_->lineSettings(); }
    void setOpen(bool open) override;
    bool isOpen() const override { return active_->isOpen(); }
    std::string takeReceived(std::size_t maxBytes = kAll, Nanos gapLimit = 0, Nanos gapsFrom = 0,
                             Nanos* firstArrival = nullptr) override {
        return active_->takeReceived(maxBytes, gapLimit, gapsFrom, firstArrival);
    }
    std::size_t receivedLength(std::size_t maxBytes, Nanos gapLimit,
                               Nanos gapsFrom) const override {
        return active_->receivedLength(maxBytes, gapLimit, gapsFrom);
    }
    std::size_t bytesWaiting() const override { return active_->bytesWaiting(); }
    Nanos lastArrival() const override { return active_->lastArrival(); }
    void limitBacklog(std::size_t maxBytes) override;
    void send(const std::string& bytes) override { active_->send(bytes); }
    // Both backends' drops: the count never goes back when the port changes backend.
    std::uint64_t sendsDropped() const override {
        return local_.sendsDropped() + network_.sendsDropped();
    }
    void setRts(bool on) override { active_->setRts(on); }
    bool rts() const override { return active_->rts(); }
    void setDtr(bool on) override { active_->setDtr(on); }
    bool dtr() const override { return active_->dtr(); }
    bool dcd() const override { return active_->dcd(); }
    bool dsr() const override { return active_->dsr(); }
    bool cts() const override { return active_->cts(); }
    std::vector<LineErrorReport> takeLineErrors() override { return active_->takeLineErrors(); }
    int readCommState(CommState& state) override { return active_->readCommState(state); }
    int writeCommState(const CommState& state) override { return active_->writeCommState(state); }

    // The backend the port uses now.
    const SerialPort& active() const { return *active_; }

private:
    const Host& host_;
    SerialPort& local_;
    SerialPort& network_;
    SerialPort* active_;
    std::size_t backlogLimit_ = kAll;
};

}  // namespace lt
