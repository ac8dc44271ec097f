#pragma once

#include <array>
#include <string>

#include "base/host.h"
#include "base/types.h"
#include "record/pcapng_writer.h"

namespace lt {

// The pcapng capture beside the text record: one block per framed packet on its port's
// interface, stamped with the arrival of its first byte and carrying both ports' line states.
// Its failures are told once and never stop the capture, the relay or the text record.
class CaptureFile {
public:
    explicit CaptureFile(Host& host) : host_(host) {}

    bool isOpen() const { return writer_.isOpen(); }

    // Creates the file (or opens the named pipe) with one interface per port, named after the
    // ports' devices. A file that cannot be created is told, and nothing is open.
    bool open(const std::string& path, const std::array<std::string, 2>& devices,
              const std::function<bool()>& keepWaiting = {});
    void close() { writer_.close(); }

    // One packet of `port` (1 or 2) whose first byte arrived at `firstArrival` (monotonic).
    void write(int port, Nanos firstArrival, const std::string& bytes, const LineStates& lines1,
               const LineStates& lines2);

private:
    Host& host_;
    PcapngWriter writer_;
    bool failureTold_ = false;
};

// The capture file that goes with a record file: the same name, ending in ".pcapng".
std::string captureFileBeside(const std::string& recordPath);

}  // namespace lt
