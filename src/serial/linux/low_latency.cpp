#include "serial/linux/low_latency.h"

#include <cstring>

#include "serial/linux/serial_log.h"

namespace lt {

LowLatency::LowLatency(PortDriver& driver, std::string device)
    : driver_(driver), device_(std::move(device)) {
    serial_struct ss{};
    if (const int err = driver_.getSerialInfo(ss); err != 0) {
        qCDebug(lcSerial) << device_.c_str() << "no low-latency mode:" << std::strerror(err);
        return;
    }
    found_ = ss;
    if (ss.flags & ASYNC_LOW_LATENCY) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    const int err = driver_.setSerialInfo(ss);
    set_ = err == 0;
    if (err != 0)
        qCDebug(lcSerial) << device_.c_str() << "low latency refused:" << std::strerror(err);
}

LowLatency::~LowLatency() {
    if (!set_) return;
    if (const int err = driver_.setSerialInfo(found_); err != 0)
        qCWarning(lcSerial) << device_.c_str()
                            << "low-latency flag not restored:" << std::strerror(err);
}

}  // namespace lt
