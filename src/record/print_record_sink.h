#pragma once

#include <cstdio>
#include <string>

#include "record/record_sink.h"

namespace lt {

// Records to a file, to a stream (standard output), or both: each record goes to the stream as it
// is written, flushed at once, so a reader of the stream sees every record as it happens.
class PrintRecordSink : public RecordSink {
public:
    // `file` may be null (records go to the stream only), `out` too (the file only).
    PrintRecordSink(RecordSink* file, std::FILE* out) : file_(file), out_(out) {}

    bool open(const std::string& path) override {
        opened_ = file_ == nullptr || file_->open(path);
        return opened_;
    }
    bool append(const std::string& bytes) override {
        if (!opened_) return false;
        bool ok = file_ == nullptr || file_->append(bytes);
        if (out_)
            ok = std::fwrite(bytes.data(), 1, bytes.size(), out_) == bytes.size() &&
                 std::fflush(out_) == 0 && ok;
        return ok;
    }
    void close() override {
        if (file_) file_->close();
        opened_ = false;
    }
    bool isOpen() const override { return opened_; }

private:
    RecordSink* file_;
    std::FILE* out_;
    bool opened_ = false;
};

}  // namespace lt
