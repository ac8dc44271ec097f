#pragma once

#include <memory>
#include <string>

#include "record/output_writer.h"
#include "record/record_sink.h"

namespace lt {

// The records of a run: to a record file, to a stream (standard output, --print), or both, each
// written by a writer of its own (OutputWriter), so neither a full disk nor a reader that falls
// behind or leaves ever holds up the program or the other output. The file is opened here, at
// once, and only when it can take a record; appends never wait.
class QueuedRecords : public RecordSink {
public:
    // `toFile`: records go to the file opened by open(); `streamFd` >= 0: records also go to that
    // descriptor (its reader gone: told once, printing stops). `tell` may be called from any
    // thread.
    QueuedRecords(bool toFile, int streamFd, OutputWriter::Tell tell);
    ~QueuedRecords() override;

    bool open(const std::string& path) override;
    bool append(const std::string& bytes) override;
    // Finishes the writers by the stop deadline (OutputWriter::stopBy) or within a second.
    void close() override;
    bool isOpen() const override { return open_; }

private:
    bool toFile_;
    int streamFd_;
    OutputWriter::Tell tell_;
    bool open_ = false;
    std::unique_ptr<OutputWriter> file_, stream_;
};

// A descriptor that records or capture blocks go to as they are (standard output): a reader that
// closes its end is Gone, any other refusal Failed.
class DescriptorDestination : public OutputDestination {
public:
    explicit DescriptorDestination(int fd) : fd_(fd) {}
    Delivery write(const std::string& piece) override;
    std::string problem() const override { return problem_; }

private:
    int fd_;
    std::string problem_;
};

}  // namespace lt
