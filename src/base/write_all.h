#pragma once

#include <unistd.h>

#include <cerrno>
#include <string>

namespace lt {

// What writing all of some bytes came to: how many went out and, when not all did, the error
// that ended it (EIO for a write that took nothing).
struct WriteOutcome {
    std::size_t written = 0;
    int error = 0;
};

// Writes all of `bytes` to a file descriptor: a short write leaves the rest to be written and an
// interrupted one is tried again; only a refusal ends the attempt.
inline WriteOutcome writeOut(int fd, const std::string& bytes) {
    WriteOutcome out;
    while (out.written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + out.written, bytes.size() - out.written);
        if (n > 0) {
            out.written += static_cast<std::size_t>(n);
        } else if (!(n < 0 && errno == EINTR)) {
            out.error = n < 0 ? errno : EIO;
            break;
        }
    }
    return out;
}

// Whether all of `bytes` went out, written as writeOut writes them.
inline bool writeAll(int fd, const std::string& bytes) {
    return writeOut(fd, bytes).error == 0;
}

}  // namespace lt
