#include "settings/settings_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "base/write_all.h"

namespace lt {

namespace {

std::string_view recordOf(std::string_view bytes, std::size_t n) {
    const std::size_t start = kSettingsRecordSize * (n - 1);
    if (start >= bytes.size()) return {};
    return bytes.substr(start, kSettingsRecordSize);
}

std::optional<std::uint16_t> u16At(std::string_view record) {
    if (record.size() < 2) return std::nullopt;
    const auto lo = static_cast<unsigned char>(record[0]);
    const auto hi = static_cast<unsigned char>(record[1]);
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

std::string textOf(std::string_view record) {
    const auto n = u16At(record);
    if (!n || *n > kSettingsMaxText || 2u + *n > record.size()) return {};
    return std::string(record.substr(2, *n));
}

i16 integerOf(std::string_view record) {
    const auto v = u16At(record);
    return v ? static_cast<i16>(*v) : i16{0};
}

void putU16(std::string& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
}

bool putText(std::string& out, std::size_t record, const std::string& text) {
    if (text.size() > kSettingsMaxText) return false;
    const std::size_t at = kSettingsRecordSize * (record - 1);
    putU16(out, at, static_cast<std::uint16_t>(text.size()));
    out.replace(at + 2, text.size(), text);
    return true;
}

void putInteger(std::string& out, std::size_t record, i16 v) {
    putU16(out, kSettingsRecordSize * (record - 1), static_cast<std::uint16_t>(v));
}

}  // namespace

StoredSettings parseSettings(std::string_view bytes) {
    StoredSettings s;
    s.recordFolder = textOf(recordOf(bytes, 1));
    s.gapMs = integerOf(recordOf(bytes, 2));
    s.pollMs = integerOf(recordOf(bytes, 3));
    s.lineDelayMs = integerOf(recordOf(bytes, 4));
    s.product = textOf(recordOf(bytes, 5));
    s.version = textOf(recordOf(bytes, 6));
    return s;
}

std::optional<std::string> serializeSettings(const StoredSettings& s) {
    std::string out(kSettingsFileSize, '\0');
    if (!putText(out, 1, s.recordFolder)) return std::nullopt;
    putInteger(out, 2, s.gapMs);
    putInteger(out, 3, s.pollMs);
    putInteger(out, 4, s.lineDelayMs);
    if (!putText(out, 5, s.product) || !putText(out, 6, s.version)) return std::nullopt;
    return out;
}

void setDefaults(StoredSettings& s) {
    s.gapMs = kDefaultGapInterval;
    s.pollMs = kDefaultPollInterval;
    s.lineDelayMs = kDefaultServiceDelay;
    s.product = kProductWord;
    s.version = kVersionWord;
}

bool identityMatches(const StoredSettings& s) {
    return s.product == kProductWord && s.version == kVersionWord;
}

std::string programBaseFolder(const Host& host, bool* isConfigHome) {
    if (isConfigHome) *isConfigHome = false;
    if (auto v = host.environment("ProgramFiles")) {
        const auto first = v->find_first_not_of(' ');
        // A value of blanks alone names no folder; the user's configuration folder serves then.
        if (first != std::string::npos) return withSlash(v->substr(first));
    }
    if (isConfigHome) *isConfigHome = true;
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    if (auto v = host.environment("XDG_CONFIG_HOME"); v && !v->empty() && v->front() == '/')
        return withSlash(*v);
    std::string home;
    if (auto v = host.environment("HOME"); v && !v->empty()) {
        home = *v;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    } else {
        home = "/tmp";
    }
    return withSlash(home) + ".config/";
}

std::string programFolder(const Host& host) {
    return programBaseFolder(host) + kProductWord + " " + kVersionWord + "/";
}

std::string settingsFile(const std::string& folder) {
    return folder + kProductWord + " " + kVersionWord + ".eng";
}

bool pathExists(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<StoredSettings> readSettings(const std::string& file) {
    if (file.empty() || file.find('\0') != std::string::npos) return std::nullopt;
    // Non-blocking, so that a FIFO or device under the file's name cannot hang the start.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Only the six records matter; whatever follows them is never read.
    std::string bytes(kSettingsFileSize, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    bytes.resize(got);
    return parseSettings(bytes);
}

bool writeSettings(const std::string& file, const StoredSettings& s) {
    if (file.empty() || file.find('\0') != std::string::npos) return false;
    const auto bytes = serializeSettings(s);
    if (!bytes) return false;

    const std::string temp = file + ".new";
    ::unlink(temp.c_str());  // a leftover of an interrupted save
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = writeAll(fd, *bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace lt
