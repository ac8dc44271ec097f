#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "settings/settings_store.h"
#include "sim/test_host.h"

namespace lt::sim {

// The identity of this version's settings file, and the program folder's name.
inline const std::string kStoredProduct = "Linetap", kStoredVersion = "v.2.01";
inline const std::string kProgramFolderName = kStoredProduct + " " + kStoredVersion;

// A settings file built byte by byte, apart from the program's writer: six 500-byte records.
inline std::string goldenSettings(const std::string& path, int gap, int poll, int lineDelay,
                                  const std::string& product = kStoredProduct,
                                  const std::string& version = kStoredVersion) {
    std::string f(3000, '\0');
    auto u16 = [&f](std::size_t record, unsigned v) {
        f[500 * (record - 1)] = static_cast<char>(v % 256);
        f[500 * (record - 1) + 1] = static_cast<char>(v / 256);
    };
    auto text = [&](std::size_t record, const std::string& t) {
        u16(record, static_cast<unsigned>(t.size()));
        f.replace(500 * (record - 1) + 2, t.size(), t);
    };
    text(1, path);
    for (auto [record, v] : {std::pair{2, gap}, {3, poll}, {4, lineDelay}})
        u16(record, static_cast<std::uint16_t>(v));
    text(5, product);
    text(6, version);
    return f;
}

// The settings `s` with one value changed.
template <class T, class V>
Settings with(Settings s, T Settings::*field, V value) {
    s.*field = static_cast<T>(value);
    return s;
}

inline std::string readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "<unreadable>";
}

inline bool writeBytes(const std::string& path, const std::string& bytes) {
    return static_cast<bool>(std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size())
                             << std::flush);
}

// Runs `f` with files limited to `bytes`: a write past the limit gives a short count, then fails.
template <class F>
auto withFileSizeLimit(rlim_t bytes, F f) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto result = f();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    return result;
}

// The record folder and the three intervals in force, compared in one go.
using Values = std::tuple<std::string, int, int, int>;
inline Values valuesOf(const Settings& s) {
    return {s.recordFolder, s.gapMs, s.pollMs, s.lineDelayMs};
}

// Host services whose program folder lies in a fresh temporary folder, and the settings store.
class SettingsFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        base = dir.path().toStdString() + "/";
        host.env["ProgramFiles"] = dir.path().toStdString();
        folder = base + kProgramFolderName + "/";
        file = folder + kProgramFolderName + ".eng";
    }
    void putFile(const std::string& bytes) {
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
        ASSERT_TRUE(writeBytes(file, bytes));
    }

    QTemporaryDir dir;
    std::string base, folder, file;
    VirtualLoop loop;
    TestHost host{loop};
    SettingsStore store{host};
};

}  // namespace lt::sim
