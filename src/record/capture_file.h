#pragma once

#include <array>
#include <memory>
#include <string>

#include "base/host.h"
#include "base/types.h"
#include "record/output_writer.h"

namespace lt {

// The pcapng capture beside the text record: one block per framed packet on its port's
// interface, stamped with the arrival of its first byte and carrying both ports' line states.
// The blocks are written by a writer of their own (OutputWriter), so a viewer that reads slowly,
// stalls or leaves never holds up the capture, the relay or the text record; packets it falls
// too far behind for are dropped, counted, told and marked in the capture. Its failures are
// told once, never one message per packet.
class CaptureFile {
public:
    explicit CaptureFile(Host& host) : host_(host) {}
    ~CaptureFile() { close(); }

    bool isOpen() const { return output_ != nullptr; }

    // Creates the file (or takes the named pipe, or "-" for standard output) with one interface
    // per port, named after the ports' devices. A file that cannot be created is told, and
    // nothing is open. A named pipe never waits here: the capture begins when its reader opens
    // it (told once that it waits).
    bool open(const std::string& path, const std::array<std::string, 2>& devices);
    // Finishes by the stop deadline (OutputWriter::stopBy) or within a second.
    void close();

    // One packet of `port` (1 or 2) whose first byte arrived at `firstArrival` (monotonic).
    void write(int port, Nanos firstArrival, const std::string& bytes, const LineStates& lines1,
               const LineStates& lines2);

    // What marks in the capture the `lost` packets dropped from `wallMicros` on, before the next
    // block written.
    static std::string lostMarkBlock(std::uint64_t lost, std::int64_t wallMicros);

    // The writer, for tests and the benchmark (null when closed).
    OutputWriter* writer() { return output_.get(); }
    // Tests write the waiting blocks themselves (OutputWriter::writeWaiting), not on a thread.
    void withoutThread() { threaded_ = false; }

private:
    Host& host_;
    std::unique_ptr<OutputWriter> output_;
    bool threaded_ = true;
};

// The capture file that goes with a record file: the same name, ending in ".pcapng".
std::string captureFileBeside(const std::string& recordPath);

}  // namespace lt
