#include "record/capture_file.h"

#include "record/record_format.h"

namespace lt {

namespace {

using pcapng::RtacEvent;

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
                       const std::function<bool()>& keepWaiting, CaptureLink link) {
    failureTold_ = false;
    link_ = link;
    const std::uint16_t type =
        link == CaptureLink::Bare ? pcapng::kLinkTypeUser0 : pcapng::kLinkTypeRtacSerial;
    if (writer_.open(path, devices, keepWaiting, type)) return true;
    host_.showMessage("Не удалось создать файл pcapng: " + writer_.lastError());
    return false;
}

void CaptureFile::close() {
    if (!writer_.isOpen()) return;
    const std::int64_t now = host_.wallClockMicros();
    put(block(1, now, RtacEvent::CaptureComplete, 0, {}, {}) +
        block(2, now, RtacEvent::CaptureComplete, 0, {}, {}));
    writer_.close();
}

// The arrival stamps are monotonic; the file wants the wall clock at that moment.
std::int64_t CaptureFile::wallMicros(Nanos monotonic) const {
    return host_.wallClockMicros() - (host_.monotonicNow() - monotonic) / 1000;
}

void CaptureFile::write(int port, Nanos firstArrival, const std::string& bytes,
                        const LineStates& lines1, const LineStates& lines2) {
    if (!writer_.isOpen() || bytes.empty()) return;
    put(block(port, wallMicros(firstArrival), RtacEvent::DataRxStart,
              pcapng::rtacLines(port == 1 ? lines1 : lines2), bytes, bothLines(lines1, lines2)));
}

void CaptureFile::lineChange(int port, Nanos seen, const LineStates& lines1,
                             const LineStates& lines2) {
    if (!writer_.isOpen()) return;
    put(block(port, wallMicros(seen), RtacEvent::StatusChange,
              pcapng::rtacLines(port == 1 ? lines1 : lines2), {}, bothLines(lines1, lines2)));
}

void CaptureFile::lineError(int port, Nanos at, LineError kind, const LineStates& lines,
                            std::uint32_t count) {
    if (!writer_.isOpen() || count == 0) return;
    put(block(port, wallMicros(at), eventOf(kind), pcapng::rtacLines(lines), {},
              count > 1 ? std::to_string(count) + " at once" : std::string()));
}

void CaptureFile::markLost(std::uint64_t count, std::int64_t wallMicros) {
    if (!writer_.isOpen() || count == 0) return;
    put(lostBlocks(link_, count, wallMicros));
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

void CaptureFile::put(const std::string& blocks) {
    if (blocks.empty()) return;
    switch (writer_.writeBlocks(blocks)) {
        case PcapngWrite::Written:
        case PcapngWrite::NotOpen:
            break;
        case PcapngWrite::ReaderGone:
            host_.notify("pcapng: " + writer_.lastError() + "; capture goes on");
            break;
        case PcapngWrite::Failed:
            // Told once per file: a full disk would otherwise say it at every packet.
            if (!failureTold_)
                host_.showMessage("Не удалось записать файл pcapng: " + writer_.lastError());
            failureTold_ = true;
            break;
    }
}

std::string captureFileBeside(const std::string& recordPath) {
    const std::string txt = ".txt";
    std::string path = recordPath;
    if (path.size() >= txt.size() && path.compare(path.size() - txt.size(), txt.size(), txt) == 0)
        path.resize(path.size() - txt.size());
    return path + ".pcapng";
}

}  // namespace lt
