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
    explicit LogCapture(const char* category) : category_(category) {
        std::lock_guard lock(mutex_);
        current_ = this;
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        std::lock_guard lock(mutex_);
        qInstallMessageHandler(previous_);
        current_ = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        std::lock_guard lock(mutex_);
        if (current_ && type != QtDebugMsg && context.category &&
            current_->category_ == context.category)
            current_->lines_.push_back(text.toStdString());
    }
    static inline std::mutex mutex_;
    static inline LogCapture* current_ = nullptr;

    std::string category_;
    QtMessageHandler previous_ = nullptr;
    std::vector<std::string> lines_;
};

}  // namespace lt::test
