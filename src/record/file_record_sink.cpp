#include "record/file_record_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/write_all.h"

namespace lt {

FileRecordSink::~FileRecordSink() {
    close();
}

bool FileRecordSink::open(const std::string& path) {
    close();
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failed(errno);
    // A folder on a full disk (or past a size limit) takes the file but no record: a block's
    // worth is written and taken back, so that such a folder is refused at once.
    const off_t start = ::lseek(fd, 0, SEEK_END);
    const bool fits = start >= 0 && writeAll(fd, std::string(kProbeBytes, ' '));
    const int error = errno;
    const bool back = start >= 0 && ::ftruncate(fd, start) == 0;
    if (!fits || !back) {
        ::close(fd);
        return failed(fits ? errno : error);
    }
    fd_ = fd;
    return true;
}

bool FileRecordSink::failed(int error) {
    problem_ = std::strerror(error);
    return false;
}

bool FileRecordSink::append(const std::string& bytes) {
    if (fd_ < 0) return false;
    const off_t start = ::lseek(fd_, 0, SEEK_END);
    if (writeAll(fd_, bytes)) return true;
    failed(errno);
    // A record is written whole or not at all: cut off the part that did get through, so the
    // file never holds half a record.
    if (start >= 0) {
        const int cut = ::ftruncate(fd_, start);
        (void)cut;
    }
    return false;
}

void FileRecordSink::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace lt
