#include "record/capture_file.h"

#include <sys/stat.h>

#include "record/record_format.h"

namespace lt {

namespace {

using pcapng::RtacEvent;

// The pcapng writer on the capture's own thread. A named pipe is opened there, once and for good:
// a reader already waiting in its own open would take any other open and close for the end of the
// capture. `waiting` is told the first time the pipe has no reader.
class PcapngDestination : public OutputDestination {
public:
    PcapngDestination(std::string path, std::array<std::string, 2> devices, std::uint16_t linkType,
                      std::function<void()> waiting = {})
        : path_(std::move(path)),
          devices_(std::move(devices)),
          linkType_(linkType),
          waiting_(std::move(waiting)) {}

    bool open(const std::function<bool()>& keepWaiting) override {
        bool told = false;
        return writer_.open(
            path_, devices_,
            [&] {
                if (!told && waiting_) waiting_();
                told = true;
                return !keepWaiting || keepWaiting();
            },
            linkType_);
    }
    Delivery write(const std::string& blocks) override {
        switch (writer_.writeBlocks(blocks)) {
            case PcapngWrite::Written:
                return Delivery::Written;
            case PcapngWrite::ReaderGone:
                return Delivery::Gone;
            case PcapngWrite::Failed:
            case PcapngWrite::NotOpen:
                break;
        }
        return Delivery::Failed;
    }
    std::string problem() const override { return writer_.lastError(); }

private:
    std::string path_;
    std::array<std::string, 2> devices_;
    std::uint16_t linkType_;
    std::function<void()> waiting_;
    PcapngWriter writer_;
};

bool isPipe(const std::string& path) {
    struct stat st {};
    return path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

std::string bothLines(const LineStates& lines1, const LineStates& lines2) {
    return lineWords(lines1) + " | " + lineWords(lines2);
}

RtacEvent eventOf(LineError kind) {
    switch (kind) {
        case LineError::Framing:
            return RtacEvent::FramingError;
        case LineError::Parity:
            return RtacEvent::ParityError;
        case LineError::Overrun:
            return RtacEvent::SerialOverflow;
        case LineError::Break:
            break;
    }
    return RtacEvent::SerialBreak;
}

std::string rtacBlock(int port, std::int64_t micros, RtacEvent event, std::uint8_t lines,
                      const std::string& bytes, const std::string& comment) {
    return pcapng::packetBlock(static_cast<std::uint32_t>(port - 1), micros,
                               pcapng::rtacHeader(micros, event, lines) + bytes, comment);
}

}  // namespace

bool CaptureFile::open(const std::string& path, const std::array<std::string, 2>& devices,
                       CaptureLink link) {
    close();
    link_ = link;
    const std::uint16_t type =
        link == CaptureLink::Bare ? pcapng::kLinkTypeUser0 : pcapng::kLinkTypeRtacSerial;
    Host& host = host_;
    auto destination = std::make_unique<PcapngDestination>(path, devices, type, [&host, path] {
        host.notifyLater("pcapng: " + path +
                         ": waiting for a reader of the pipe; the capture begins when it opens it");
    });
    const bool pipe = isPipe(path);
    // A file is created here, so that one that cannot be is told at once.
    if (!pipe && !destination->open({})) {
        host_.showMessage("Не удалось создать файл pcapng: " + destination->problem());
        return false;
    }
    const std::string name = "pcapng " + (path == "-" ? std::string("standard output") : path);
    OutputWriter::Options options;
    options.name = name;
    options.pieces = "packets";
    options.lostMark = [link](std::uint64_t lost, std::int64_t wallMicros) {
        return lostBlocks(link, lost, wallMicros);
    };
    options.goneNotice = "pcapng: " + path + ": the reader closed the pipe; capture goes on";
    options.beginsWhenOpen = pipe;
    output_ = std::make_unique<OutputWriter>(
        std::move(destination), std::move(options),
        [&host](const std::string& text) { host.notifyLater(text); }, !pipe);
    if (threaded_) output_->start();
    return true;
}

void CaptureFile::close() {
    if (!output_) return;
    const std::int64_t now = host_.wallClockMicros();
    put(block(1, now, RtacEvent::CaptureComplete, 0, {}, {}) +
            block(2, now, RtacEvent::CaptureComplete, 0, {}, {}),
        now);
    output_->finish();
    output_.reset();
}

// The arrival stamps are monotonic; the file wants the wall clock at that moment.
std::int64_t CaptureFile::wallMicros(Nanos monotonic) const {
    return host_.wallClockMicros() - (host_.monotonicNow() - monotonic) / 1000;
}

void CaptureFile::write(int port, Nanos firstArrival, const std::string& bytes,
                        const LineStates& lines1, const LineStates& lines2) {
    if (!output_ || bytes.empty() || bytes.size() > pcapng::kMaxPacketBytes) return;
    const std::int64_t micros = wallMicros(firstArrival);
    put(block(port, micros, RtacEvent::DataRxStart, pcapng::rtacLines(port == 1 ? lines1 : lines2),
              bytes, bothLines(lines1, lines2)),
        micros);
}

void CaptureFile::lineChange(int port, Nanos seen, const LineStates& lines1,
                             const LineStates& lines2) {
    if (!output_) return;
    const std::int64_t micros = wallMicros(seen);
    put(block(port, micros, RtacEvent::StatusChange, pcapng::rtacLines(port == 1 ? lines1 : lines2),
              {}, bothLines(lines1, lines2)),
        micros);
}

void CaptureFile::lineError(int port, Nanos at, LineError kind, const LineStates& lines,
                            std::uint32_t count) {
    if (!output_ || count == 0) return;
    const std::int64_t micros = wallMicros(at);
    put(block(port, micros, eventOf(kind), pcapng::rtacLines(lines), {},
              count > 1 ? std::to_string(count) + " at once" : std::string()),
        micros);
}

void CaptureFile::markLost(std::uint64_t count, std::int64_t wallMicros) {
    if (!output_ || count == 0) return;
    put(lostBlocks(link_, count, wallMicros), wallMicros);
}

std::string CaptureFile::lostBlocks(CaptureLink link, std::uint64_t count,
                                    std::int64_t wallMicros) {
    const std::string note =
        std::to_string(count) + (count == 1 ? " packet" : " packets") + " lost here";
    if (link == CaptureLink::Bare) return pcapng::packetBlock(0, wallMicros, {}, note, count);
    return rtacBlock(1, wallMicros, RtacEvent::CaptureDataLost, 0, {}, note) +
           rtacBlock(2, wallMicros, RtacEvent::CaptureDataLost, 0, {}, note);
}

// The bare link keeps the packets only.
std::string CaptureFile::block(int port, std::int64_t micros, RtacEvent event, std::uint8_t lines,
                               const std::string& bytes, const std::string& comment) const {
    if (link_ == CaptureLink::RtacSerial)
        return rtacBlock(port, micros, event, lines, bytes, comment);
    if (event != RtacEvent::DataRxStart) return {};
    return pcapng::packetBlock(static_cast<std::uint32_t>(port - 1), micros, bytes, comment);
}

void CaptureFile::put(const std::string& blocks, std::int64_t wallMicros) {
    if (!blocks.empty()) output_->offer(blocks, wallMicros);
}

std::string captureFileBeside(const std::string& recordPath) {
    const std::string txt = ".txt";
    std::string path = recordPath;
    if (path.size() >= txt.size() && path.compare(path.size() - txt.size(), txt.size(), txt) == 0)
        path.resize(path.size() - txt.size());
    return path + ".pcapng";
}

}  // namespace lt
