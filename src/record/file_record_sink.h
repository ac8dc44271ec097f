#pragma once

#include <string>

#include "record/record_sink.h"

namespace lt {

// The record file on disk. Opened for appending (created when missing, extended when it exists);
// every append goes to the operating system at once with write(2), so a crash loses nothing
// already recorded. The descriptor is this object's own: no other file operation touches it.
class FileRecordSink : public RecordSink {
public:
    FileRecordSink() = default;
    ~FileRecordSink() override;
    FileRecordSink(const FileRecordSink&) = delete;
    FileRecordSink& operator=(const FileRecordSink&) = delete;

    bool open(const std::string& path) override;
    bool append(const std::string& bytes) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace lt
