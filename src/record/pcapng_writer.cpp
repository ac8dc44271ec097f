#include "record/pcapng_writer.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <system_error>
#include <vector>

#include "base/write_all.h"

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

std::uint32_t le32(const unsigned char* b) {
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
}

// Reads a file front to back through a buffer, so that walking its blocks costs few reads.
class BufferedReader {
public:
    explicit BufferedReader(int fd) : fd_(fd), buffer_(1 << 20) {}
    // The little-endian 32-bit number at `at`; false when the file ends before it.
    bool number(std::int64_t at, std::uint32_t& value) {
        if (at < start_ || at + 4 > start_ + length_) {
            const ssize_t n = ::pread(fd_, buffer_.data(), buffer_.size(), static_cast<off_t>(at));
            start_ = at;
            length_ = std::max<ssize_t>(n, 0);
            if (n < 4) return false;
        }
        value = le32(buffer_.data() + (at - start_));
        return true;
    }

private:
    int fd_;
    std::vector<unsigned char> buffer_;
    std::int64_t start_ = 0, length_ = 0;
};

// Where the last whole block of the capture in `fd` (`size` bytes, at least one) ends, or -1 when
// the file does not begin with a section header in this writer's byte order. A block is whole when
// its lengths at both ends agree and it ends inside the file. The last block is looked at first:
// whole, as it nearly always is, the file is not walked through.
std::int64_t endOfWholeBlocks(int fd, std::int64_t size) {
    unsigned char head[12];
    if (size < 12 || ::pread(fd, head, sizeof head, 0) != sizeof head ||
        le32(head) != pcapng::kSectionHeaderType || le32(head + 8) != pcapng::kByteOrderMagic)
        return -1;
    unsigned char last[4];
    if (::pread(fd, last, 4, size - 4) == 4) {
        const std::uint32_t length = le32(last);
        if (length >= 12 && length % 4 == 0 && length <= size &&
            ::pread(fd, head, 8, size - length) == 8 && le32(head + 4) == length)
            return size;
    }
    BufferedReader file(fd);
    std::int64_t at = 0;
    while (size - at >= 12) {
        std::uint32_t length = 0, trailing = 0;
        if (!file.number(at + 4, length) || length < 12 || length % 4 != 0 || length > size - at ||
            !file.number(at + length - 4, trailing) || trailing != length)
            break;
        at += length;
    }
    return at;
}

}  // namespace

PcapngWriter::~PcapngWriter() {
    close();
}

bool PcapngWriter::open(const std::string& path, const std::array<std::string, 2>& devices,
                        const std::function<bool()>& keepWaiting, std::uint16_t linkType) {
    close();
    lastError_.clear();
    path_ = path;
    if (path.empty() || path.find('\0') != std::string::npos) {
        lastError_ = "no usable capture file name";
        return false;
    }
    int fd;
    struct stat pipe {};
    if (path == "-") {
        fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    } else if (::stat(path.c_str(), &pipe) == 0 && S_ISFIFO(pipe.st_mode)) {
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
        // A file is read as well, to find where what it holds ends; a device is only written.
        struct stat existing {};
        const bool device = ::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode);
        do {
            fd = ::open(path.c_str(), (device ? O_WRONLY : O_RDWR | O_CREAT) | O_CLOEXEC, 0644);
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
    if (path == "-") {
        // Standard output redirected to a file may already hold something before this capture.
        if (regular_) end_ = std::max<off_t>(0, ::lseek(fd, 0, SEEK_CUR));
    } else if (regular_ && st.st_size > 0 && !keepWhatItHolds(st.st_size)) {
        close();
        return false;
    }
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

// A capture opened again (its record file ticked on again within the same second, or a service
// restarted) keeps its packets: a new section follows its last whole block. Only the part of a
// block that a crash left at its end goes, which no reader could use anyway. A file that holds
// anything else is left alone.
bool PcapngWriter::keepWhatItHolds(std::int64_t size) {
    const std::int64_t end = endOfWholeBlocks(fd_, size);
    if (end < 0) {
        lastError_ = path_ + ": holds something other than a pcapng capture; left as it is";
        return false;
    }
    if ((end < size && ::ftruncate(fd_, static_cast<off_t>(end)) != 0) ||
        ::lseek(fd_, static_cast<off_t>(end), SEEK_SET) < 0) {
        lastError_ = path_ + ": " + reason(errno);
        return false;
    }
    end_ = end;
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
    WriteOutcome out;
    {
        HeldSigpipe held;
        out = writeOut(fd_, block);
        if (out.error == EPIPE) held.dropRaised();
    }
    const std::size_t done = out.written;
    const int error = out.error;
    if (error == 0) {
        end_ += static_cast<std::int64_t>(done);
        return Outcome::Written;
    }
    if (error == EPIPE) {
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
