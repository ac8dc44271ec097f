#include "record/pcapng_writer.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <system_error>

namespace lt {

namespace pcapng {
namespace {

constexpr std::uint16_t kEndOfOptions = 0;
constexpr std::uint16_t kComment = 1;
constexpr std::uint16_t kInterfaceName = 2;
constexpr std::uint16_t kTimestampResolution = 9;
constexpr std::uint16_t kPacketFlags = 2;
constexpr std::uint16_t kDropCount = 4;
constexpr std::uint32_t kInbound = 0x1;  // direction, bits 0-1
constexpr std::uint8_t kMicroseconds = 6;
constexpr std::size_t kMaxOptionBytes = 0xFFFF;

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void pad32(std::string& out) {
    while (out.size() % 4 != 0) out += '\0';
}

// One option: code, length, value padded to 32 bits. Only a text can be longer than an option
// holds; it is cut back to the start of a UTF-8 character, so what is kept is still UTF-8.
void putOption(std::string& out, std::uint16_t code, const std::string& value) {
    std::size_t n = value.size();
    if (n > kMaxOptionBytes) {
        n = kMaxOptionBytes;
        while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
    }
    put16(out, code);
    put16(out, static_cast<std::uint16_t>(n));
    out.append(value, 0, n);
    pad32(out);
}

// Wraps a block's body in its type and its total length, which stands at both ends.
std::string wrap(std::uint32_t type, const std::string& body) {
    const auto total = static_cast<std::uint32_t>(body.size() + 12);
    std::string block;
    block.reserve(total);
    put32(block, type);
    put32(block, total);
    block += body;
    put32(block, total);
    return block;
}

void putBig32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

}  // namespace

std::uint8_t rtacLines(const LineStates& lines) {
    return static_cast<std::uint8_t>((lines.cts ? kRtacCts : 0) | (lines.dcd ? kRtacDcd : 0) |
                                     (lines.dsr ? kRtacDsr : 0) | (lines.rts ? kRtacRts : 0) |
                                     (lines.dtr ? kRtacDtr : 0));
}

std::string rtacHeader(std::int64_t micros, RtacEvent event, std::uint8_t lines) {
    std::string header;
    header.reserve(kRtacHeaderBytes);
    putBig32(header, static_cast<std::uint32_t>(micros / 1'000'000));
    putBig32(header, static_cast<std::uint32_t>(micros % 1'000'000));
    header += static_cast<char>(event);
    header += static_cast<char>(lines);
    header.append(2, '\0');  // footer
    return header;
}

std::string sectionHeaderBlock() {
    std::string body;
    put32(body, kByteOrderMagic);
    put16(body, 1);           // major version
    put16(body, 0);           // minor version
    put32(body, 0xFFFFFFFF);  // section length -1 (64 bits): not given
    put32(body, 0xFFFFFFFF);
    return wrap(kSectionHeaderType, body);
}

std::string interfaceBlock(const std::string& name, std::uint16_t linkType) {
    std::string body;
    put16(body, linkType);
    put16(body, 0);  // reserved
    put32(body, 0);  // snap length: none
    putOption(body, kInterfaceName, name);
    putOption(body, kTimestampResolution, std::string(1, static_cast<char>(kMicroseconds)));
    putOption(body, kEndOfOptions, {});
    return wrap(kInterfaceType, body);
}

std::string packetBlock(std::uint32_t interfaceId, std::int64_t micros, const std::string& bytes,
                        const std::string& comment, std::uint64_t dropCount) {
    const auto stamp = static_cast<std::uint64_t>(micros);
    const auto length = static_cast<std::uint32_t>(bytes.size());
    std::string body;
    body.reserve(bytes.size() + comment.size() + 48);
    put32(body, interfaceId);
    put32(body, static_cast<std::uint32_t>(stamp >> 32));
    put32(body, static_cast<std::uint32_t>(stamp & 0xFFFFFFFF));
    put32(body, length);  // captured
    put32(body, length);  // original: every byte is kept
    body += bytes;
    pad32(body);
    std::string flags;
    put32(flags, kInbound);
    putOption(body, kPacketFlags, flags);
    if (!comment.empty()) putOption(body, kComment, comment);
    if (dropCount > 0) {
        std::string count;
        put32(count, static_cast<std::uint32_t>(dropCount & 0xFFFFFFFF));
        put32(count, static_cast<std::uint32_t>(dropCount >> 32));
        putOption(body, kDropCount, count);
    }
    putOption(body, kEndOfOptions, {});
    return wrap(kEnhancedPacketType, body);
}

std::string portInterfaceName(int index, const std::string& device) {
    return "port " + std::to_string(index + 1) + " (" + device + ")";
}

}  // namespace pcapng

namespace {

std::string reason(int error) {
    return std::generic_category().message(error);
}

// Holds SIGPIPE back for this thread while a block is written, so a reader that has gone shows
// as EPIPE from write instead of ending the program.
class HeldSigpipe {
public:
    HeldSigpipe() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~HeldSigpipe() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    HeldSigpipe(const HeldSigpipe&) = delete;
    HeldSigpipe& operator=(const HeldSigpipe&) = delete;

    // Takes off the SIGPIPE the failed write raised, before the old mask would let it through.
    // One that was pending before the write is someone else's, and the two are one signal then.
    void dropRaised() {
        if (pendingBefore_) return;
        const timespec now{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
        }
    }

private:
    sigset_t pipe_{};
    sigset_t previous_{};
    bool pendingBefore_ = false;
};

}  // namespace

PcapngWriter::~PcapngWriter() {
    close();
}

bool PcapngWriter::open(const std::string& path, const std::array<std::string, 2>& devices,
                        const std::function<bool()>& keepWaiting, std::uint16_t linkType) {
    close();
    readerGone_ = false;
    lastError_.clear();
    path_ = path;
    if (path.empty() || path.find('\0') != std::string::npos) {
        lastError_ = "no usable capture file name";
        return false;
    }
    int fd;
    struct stat pipe {};
    if (::stat(path.c_str(), &pipe) == 0 && S_ISFIFO(pipe.st_mode)) {
        // A named pipe opens for writing once a reader has it open; until then it is tried again
        // every 20 ms, as long as the caller still wants to wait.
        while ((fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
               (errno == ENXIO || errno == EINTR)) {
            if (keepWaiting && !keepWaiting()) {
                lastError_ = path + ": no reader opened the pipe";
                return false;
            }
            ::usleep(20'000);
        }
        if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else {
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        lastError_ = path + ": " + reason(errno);
        return false;
    }
    struct stat st {};
    regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    fd_ = fd;
    end_ = 0;
    // The header goes out in one write: a viewer on a pipe gets the interfaces before any packet.
    const std::string header =
        pcapng::sectionHeaderBlock() +
        pcapng::interfaceBlock(pcapng::portInterfaceName(0, devices[0]), linkType) +
        pcapng::interfaceBlock(pcapng::portInterfaceName(1, devices[1]), linkType);
    if (writeBlock(header) != Outcome::Written) {
        close();
        return false;
    }
    return true;
}

PcapngWrite PcapngWriter::writePacket(int port, std::int64_t micros, const std::string& data,
                                      const std::string& comment, std::uint64_t dropCount) {
    if (fd_ < 0) return PcapngWrite::NotOpen;
    if (port != 0 && port != 1) {
        lastError_ = path_ + ": no port " + std::to_string(port);
        return PcapngWrite::Failed;
    }
    if (data.size() > pcapng::kMaxPacketBytes) {
        lastError_ = path_ + ": a packet of " + std::to_string(data.size()) + " bytes is too long";
        return PcapngWrite::Failed;
    }
    return writeBlocks(
        pcapng::packetBlock(static_cast<std::uint32_t>(port), micros, data, comment, dropCount));
}

PcapngWrite PcapngWriter::writeBlocks(const std::string& blocks) {
    if (fd_ < 0) return PcapngWrite::NotOpen;
    switch (writeBlock(blocks)) {
        case Outcome::Written:
            return PcapngWrite::Written;
        case Outcome::ReaderGone:
            return PcapngWrite::ReaderGone;
        case Outcome::Failed:
            break;
    }
    return PcapngWrite::Failed;
}

void PcapngWriter::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

PcapngWriter::Outcome PcapngWriter::writeBlock(const std::string& block) {
    std::size_t done = 0;
    int error = 0;
    {
        HeldSigpipe held;
        while (done < block.size()) {
            const ssize_t n = ::write(fd_, block.data() + done, block.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                error = n < 0 ? errno : EIO;
                break;
            }
        }
        if (error == EPIPE) held.dropRaised();
    }
    if (done == block.size()) {
        end_ += static_cast<std::int64_t>(done);
        return Outcome::Written;
    }
    if (error == EPIPE) {
        readerGone_ = true;
        lastError_ = path_ + ": the reader closed the pipe";
        close();
        return Outcome::ReaderGone;
    }
    lastError_ = path_ + ": " + reason(error);
    if (regular_) {
        // Cut off what got through and write the next block where this one began.
        if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0 ||
            ::lseek(fd_, static_cast<off_t>(end_), SEEK_SET) < 0) {
            lastError_ += "; part of a block is left in the file, so the capture stops";
            close();
        }
    } else if (done > 0) {
        // A reader of a pipe or device has half a block and would misread all that followed.
        lastError_ += "; part of a block went out, so the capture stops";
        close();
    }
    return Outcome::Failed;
}

}  // namespace lt
