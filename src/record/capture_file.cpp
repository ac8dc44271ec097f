#include "record/capture_file.h"

#include "record/record_format.h"

namespace lt {

bool CaptureFile::open(const std::string& path, const std::array<std::string, 2>& devices,
                       const std::function<bool()>& keepWaiting) {
    failureTold_ = false;
    if (writer_.open(path, devices, keepWaiting)) return true;
    host_.showMessage("Не удалось создать файл pcapng: " + writer_.lastError());
    return false;
}

void CaptureFile::write(int port, Nanos firstArrival, const std::string& bytes,
                        const LineStates& lines1, const LineStates& lines2) {
    if (!writer_.isOpen() || bytes.empty()) return;
    // The arrival stamp is monotonic; the file wants the wall clock at that moment.
    const std::int64_t micros =
        host_.wallClockMicros() - (host_.monotonicNow() - firstArrival) / 1000;
    const std::string comment = lineWords(lines1) + " | " + lineWords(lines2);
    switch (writer_.writePacket(port - 1, micros, bytes, comment)) {
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
