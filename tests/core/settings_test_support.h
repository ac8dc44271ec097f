#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <string>

#include "sim/rig.h"

namespace lt::sim {

// A settings file put together byte by byte from the record layout, independently of the
// program's writer: six 500-byte records, texts as a 16-bit length and bytes, integers as 16-bit
// two's complement, low byte first, the rest zero.
inline std::string goldenSettings(const std::string& path, int gap, int poll, int service,
                                  const std::string& product = "Linetap",
                                  const std::string& version = "v.2.01") {
    std::string f(3000, '\0');
    auto text = [&f](std::size_t record, const std::string& t) {
        const std::size_t at = 500 * (record - 1);
        f[at] = static_cast<char>(t.size() % 256);
        f[at + 1] = static_cast<char>(t.size() / 256);
        for (std::size_t i = 0; i < t.size(); ++i) f[at + 2 + i] = t[i];
    };
    auto integer = [&f](std::size_t record, int v) {
        const auto u = static_cast<std::uint16_t>(v);
        f[500 * (record - 1)] = static_cast<char>(u % 256);
        f[500 * (record - 1) + 1] = static_cast<char>(u / 256);
    };
    text(1, path);
    integer(2, gap);
    integer(3, poll);
    integer(4, service);
    text(5, product);
    text(6, version);
    return f;
}

inline std::string readBytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return "<unreadable>";
    return f.readAll().toStdString();
}

inline bool writeBytes(const std::string& path, const std::string& bytes) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
}

// A rig whose program folder lies in a fresh temporary folder.
class SettingsRig : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        base = dir.path().toStdString() + "/";
        rig.host.env["ProgramFiles"] = dir.path().toStdString();
        folder = base + "Linetap v.2.01/";
        file = folder + "Linetap v.2.01.eng";
    }
    void putFile(const std::string& bytes) {
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
        ASSERT_TRUE(writeBytes(file, bytes));
    }

    QTemporaryDir dir;
    std::string base, folder, file;
    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
};

}  // namespace lt::sim
