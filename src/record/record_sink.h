#pragma once

#include <string>

namespace lt {

// Where records go: a text file opened for appending, or standard output. Every append hands its
// bytes to the operating system at once, so a crash loses nothing already written.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual bool open(const std::string& path) = 0;     // creates or extends; false on failure
    virtual bool append(const std::string& bytes) = 0;  // false when the bytes could not be written
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

}  // namespace lt
