#include "record/queued_records.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/write_all.h"
#include "record/file_record_sink.h"

namespace lt {

namespace {

// The record file, written whole or not at all by FileRecordSink.
class RecordFileDestination : public OutputDestination {
public:
    explicit RecordFileDestination(std::unique_ptr<FileRecordSink> file) : file_(std::move(file)) {}
    Delivery write(const std::string& piece) override {
        return file_->append(piece) ? Delivery::Written : Delivery::Failed;
    }
    std::string problem() const override { return file_->problem(); }

private:
    std::unique_ptr<FileRecordSink> file_;
};

}  // namespace

Delivery DescriptorDestination::write(const std::string& piece) {
    const WriteOutcome out = writeOut(fd_, piece);
    if (out.error == 0) return Delivery::Written;
    problem_ = std::strerror(out.error);
    // Half a piece went out: what follows could only be misread.
    return out.error == EPIPE || out.written > 0 ? Delivery::Gone : Delivery::Failed;
}

QueuedRecords::QueuedRecords(bool toFile, int streamFd, OutputWriter::Tell tell)
    : toFile_(toFile), streamFd_(streamFd), tell_(std::move(tell)) {}

QueuedRecords::~QueuedRecords() {
    close();
}

bool QueuedRecords::open(const std::string& path) {
    close();
    if (toFile_) {
        auto file = std::make_unique<FileRecordSink>();
        if (!file->open(path)) return false;
        OutputWriter::Options options;
        options.name = "record file " + path;
        file_ = std::make_unique<OutputWriter>(
            std::make_unique<RecordFileDestination>(std::move(file)), std::move(options), tell_);
        file_->start();
    }
    if (streamFd_ >= 0) {
        OutputWriter::Options options;
        options.name = "standard output";
        options.goneNotice = "standard output: its reader has gone; printing stops";
        stream_ = std::make_unique<OutputWriter>(std::make_unique<DescriptorDestination>(streamFd_),
                                                 std::move(options), tell_);
        stream_->start();
    }
    open_ = true;
    return true;
}

bool QueuedRecords::append(const std::string& bytes) {
    if (!open_) return false;
    bool queued = true;
    const std::int64_t now = 0;  // records carry their own stamp; no marker needs a time
    if (file_) queued = file_->offer(bytes, now) && queued;
    if (stream_) queued = stream_->offer(bytes, now) && queued;
    return queued;
}

void QueuedRecords::close() {
    // Both outputs finish by the same moment, not one after the other.
    const OutputWriter::Clock::time_point deadline = OutputWriter::defaultDeadline();
    for (auto* w : {&file_, &stream_}) {
        if (*w) (*w)->finish(deadline);
        w->reset();
    }
    open_ = false;
}

}  // namespace lt
