#include "record/capture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "record/pcapng_writer.h"
#include "record/record_format.h"

namespace lt {

namespace {

// The pcapng writer on the capture's own thread; a named pipe is opened there too.
class PcapngDestination : public OutputDestination {
public:
    PcapngDestination(std::string path, std::array<std::string, 2> devices)
        : path_(std::move(path)), devices_(std::move(devices)) {}

    PcapngWriter& writer() { return writer_; }

    bool open(const std::function<bool()>& keepWaiting) override {
        return writer_.open(path_, devices_, keepWaiting);
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
    PcapngWriter writer_;
};

bool isPipe(const std::string& path) {
    struct stat st {};
    return path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Whether the pipe at `path` has a reader now.
bool pipeHasReader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno != ENXIO;
    ::close(fd);
    return true;
}

}  // namespace

bool CaptureFile::open(const std::string& path, const std::array<std::string, 2>& devices) {
    close();
    auto destination = std::make_unique<PcapngDestination>(path, devices);
    const bool pipe = isPipe(path);
    // A file is created here, so that one that cannot be is told at once.
    if (!pipe && !destination->open({})) {
        host_.showMessage("Не удалось создать файл pcapng: " + destination->problem());
        return false;
    }
    const std::string name = "pcapng " + (path == "-" ? std::string("standard output") : path);
    Host& host = host_;
    OutputWriter::Options options;
    options.name = name;
    options.pieces = "packets";
    options.lostMark = lostMarkBlock;
    options.goneNotice = "pcapng: " + path + ": the reader closed the pipe; capture goes on";
    options.beginsWhenOpen = pipe;
    output_ = std::make_unique<OutputWriter>(
        std::move(destination), std::move(options),
        [&host](const std::string& text) { host.notifyLater(text); }, !pipe);
    if (pipe && !pipeHasReader(path))
        host_.notify("pcapng: " + path +
                     ": waiting for a reader of the pipe; the capture begins when it opens it");
    if (threaded_) output_->start();
    return true;
}

void CaptureFile::close() {
    if (!output_) return;
    output_->finish();
    output_.reset();
}

void CaptureFile::write(int port, Nanos firstArrival, const std::string& bytes,
                        const LineStates& lines1, const LineStates& lines2) {
    if (!output_ || bytes.empty()) return;
    // The arrival stamp is monotonic; the file wants the wall clock at that moment.
    const std::int64_t micros =
        host_.wallClockMicros() - (host_.monotonicNow() - firstArrival) / 1000;
    if (bytes.size() > pcapng::kMaxPacketBytes) return;
    const std::string comment = lineWords(lines1) + " | " + lineWords(lines2);
    output_->offer(
        pcapng::packetBlock(static_cast<std::uint32_t>(port - 1), micros, bytes, comment), micros);
}

// An empty packet on port 1's interface whose comment says how many packets are missing there.
std::string CaptureFile::lostMarkBlock(std::uint64_t lost, std::int64_t wallMicros) {
    return pcapng::packetBlock(0, wallMicros, "",
                               "linetap: " + std::to_string(lost) +
                                   " packets lost here: the capture's reader fell behind");
}

std::string captureFileBeside(const std::string& recordPath) {
    const std::string txt = ".txt";
    std::string path = recordPath;
    if (path.size() >= txt.size() && path.compare(path.size() - txt.size(), txt.size(), txt) == 0)
        path.resize(path.size() - txt.size());
    return path + ".pcapng";
}

}  // namespace lt
