#pragma once

#include <QLocale>
#include <string>

#include "base/host.h"
#include "record/record_format.h"
#include "record/record_sink.h"

namespace lt {

// The record file: while recording, every row with data and every change of the lines is
// appended, with a time stamp, both ports' labels, lines and bytes.
class Recorder {
public:
    Recorder(Host& host, RecordSink& sink, const QLocale& locale)
        : host_(host), sink_(sink), locale_(locale) {}

    bool recording() const { return recording_; }
    // The file recording goes to (the last one opened).
    const std::string& path() const { return path_; }

    // Opens a file named after the present date and time in `folder`. A file that cannot be
    // created is reported and recording stays off; returns whether it is on.
    bool start(const std::string& folder);
    void stop();

    // One record: the stamp, both ports' lines and an empty line, handed to the file in one
    // piece. A record the file refuses is dropped; the next one is tried again.
    void write(const RecordPort& port1, const RecordPort& port2);

private:
    Host& host_;
    RecordSink& sink_;
    const QLocale& locale_;
    bool recording_ = false;
    std::string path_;
};

}  // namespace lt
