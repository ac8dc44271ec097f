#pragma once

#include <QLoggingCategory>
#include <QString>
#include <mutex>
#include <string>
#include <vector>

namespace lt::test {

// Collects the messages of one logging category at info level and above while it lives.
class LogCapture {
public:
    explicit LogCapture(const char* category) {
        std::lock_guard lock(mutex_);
        category_ = category;
        lines_.clear();
        previous_ = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                std::lock_guard lock(mutex_);
                if (type != QtDebugMsg && context.category && category_ == context.category)
                    lines_.push_back(text.toStdString());
            });
    }
    ~LogCapture() { qInstallMessageHandler(previous_); }
    LogCapture(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    static inline std::mutex mutex_;
    static inline std::string category_;
    static inline std::vector<std::string> lines_;
    QtMessageHandler previous_;
};

}  // namespace lt::test
