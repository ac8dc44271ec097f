#pragma once

#include <string>

#include "record/record_sink.h"

namespace lt {

// The record file on disk. Opened for appending (created when missing, extended when it exists),
// and only where it can take a record;
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
    // Why the last open or append failed.
    const std::string& problem() const { return problem_; }

    // What open() writes and takes back to see that the folder takes records.
    static constexpr std::size_t kProbeBytes = 4096;

private:
    bool failed(int error);

    int fd_ = -1;
    std::string problem_;
};

}  // namespace lt
