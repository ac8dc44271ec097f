#include "serial/named_port.h"

namespace lt {

NamedPort::NamedPort(const Host& host, SerialPort& local, SerialPort& network)
    : host_(host), local_(local), network_(network), active_(&local) {
    for (SerialPort* backend : {&local_, &network_})
        backend->onEvent = [this, backend] {
            if (backend == active_) raise(backend->event());
        };
}

void NamedPort::setPortName(const PortName& name) {
    active_->setPortName(name);
    (active_ == &local_ ? network_ : local_).setPortName(name);
}

void NamedPort::limitBacklog(std::size_t maxBytes) {
    backlogLimit_ = maxBytes;
    active_->limitBacklog(maxBytes);
}

void NamedPort::setOpen(bool open) {
    if (open && !active_->isOpen()) {
        const std::string device = active_->portName().device(
            [this](const std::string& var) { return host_.environment(var); });
        SerialPort* wanted = parseNetworkAddress(device) ? &network_ : &local_;
        if (wanted != active_) {
            wanted->setLineSettings(active_->lineSettings());
            wanted->setRts(active_->rts());
            wanted->setDtr(active_->dtr());
            wanted->limitBacklog(backlogLimit_);
            active_->limitBacklog(kAll);
            active_ = wanted;
        }
    }
    active_->setOpen(open);
}

}  // namespace lt
