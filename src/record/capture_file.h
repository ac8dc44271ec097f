#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/host.h"
#include "base/types.h"
#include "record/output_writer.h"
#include "record/pcapng_writer.h"

namespace lt {

// How the capture's packets carry their bytes: behind the RTAC serial header, which Wireshark
// dissects with the event and the modem lines, or bare (link type USER0) for tools that want
// only the bytes.
enum class CaptureLink { RtacSerial, Bare };

// The pcapng capture beside the text record: one block per framed packet on its port's
// interface, stamped with the arrival of its first byte, with both ports' line states as its
// comment. On the RTAC serial link each block also says what it stands for (a packet, a change
// of the lines, a line error, lost packets, the end of the run) and the port's lines at that
// moment; the bare link carries the packets only, and lost packets as an empty packet with a drop
// count. The blocks are written by a writer of their own (OutputWriter), so a viewer that reads
// slowly, stalls or leaves never holds up the capture, the relay or the text record; packets it
// falls too far behind for are dropped, counted, told and marked in the capture. Its failures
// are told once, never one message per packet.
class CaptureFile {
public:
    explicit CaptureFile(Host& host) : host_(host) {}
    ~CaptureFile() { close(); }

    bool isOpen() const { return output_ != nullptr; }

    // Creates the file (or takes the named pipe, or "-" for standard output) with one interface
    // per port, named after the ports' devices. A file that cannot be created is told, and
    // nothing is open. A named pipe never waits here: the capture begins when its reader opens
    // it (told once that it waits).
    bool open(const std::string& path, const std::array<std::string, 2>& devices,
              CaptureLink link = CaptureLink::RtacSerial);
    // The end of the run: CAPTURE_COMPLETE on each port's interface (RTAC serial), then closed;
    // finishes by the stop deadline (OutputWriter::stopBy) or within a second.
    void close();

    // One packet of `port` (1 or 2) whose first byte arrived at `firstArrival` (monotonic).
    void write(int port, Nanos firstArrival, const std::string& bytes, const LineStates& lines1,
               const LineStates& lines2);
    // `port`'s lines changed, seen at `seen` (monotonic): a STATUS_CHANGE block.
    void lineChange(int port, Nanos seen, const LineStates& lines1, const LineStates& lines2);
    // A line error on `port` at `at` (monotonic), with the port's lines then; `count` errors of
    // the kind seen at once (a driver's counter) are one block that tells their number.
    void lineError(int port, Nanos at, LineError kind, const LineStates& lines,
                   std::uint32_t count = 1);
    // `count` packets were lost here, before anything written after this call.
    void markLost(std::uint64_t count, std::int64_t wallMicros);

    // The blocks that mark `count` lost packets at `wallMicros` (microseconds since the Unix
    // epoch): CAPTURE_DATA_LOST on each port's interface, or on the bare link an empty packet on
    // port 1's interface with the count as its drop count; both tell the count in a comment.
    static std::string lostBlocks(CaptureLink link, std::uint64_t count, std::int64_t wallMicros);

    // The writer, for tests and the benchmark (null when closed).
    OutputWriter* writer() { return output_.get(); }
    // Tests write the waiting blocks themselves (OutputWriter::writeWaiting), not on a thread.
    void withoutThread() { threaded_ = false; }

private:
    std::int64_t wallMicros(Nanos monotonic) const;
    // The block of one event on `port`'s interface; empty where the link has no such block.
    std::string block(int port, std::int64_t micros, pcapng::RtacEvent event, std::uint8_t lines,
                      const std::string& bytes, const std::string& comment) const;
    void put(const std::string& blocks, std::int64_t wallMicros);

    Host& host_;
    std::unique_ptr<OutputWriter> output_;
    bool threaded_ = true;
    CaptureLink link_ = CaptureLink::RtacSerial;
};

// The capture file that goes with a record file: the same name, ending in ".pcapng".
std::string captureFileBeside(const std::string& recordPath);

}  // namespace lt
