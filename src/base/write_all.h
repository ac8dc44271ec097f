#pragma once

#include <unistd.h>

#include <cerrno>
#include <string>

namespace lt {

// Writes all of `bytes` to a file descriptor: a short write leaves the rest to be written and an
// interrupted one is tried again; only a refusal ends the attempt. Returns whether all went out.
inline bool writeAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

}  // namespace lt
