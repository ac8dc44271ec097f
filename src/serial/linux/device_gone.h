#pragma once

#include <cerrno>

namespace lt {

// A driver's error code that means the device itself has gone (hang-up, adapter pulled out),
// rather than a call it refused.
inline bool deviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

}  // namespace lt
