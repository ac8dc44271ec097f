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
        std::lock_guard lock(mutex());
        current() = this;
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        std::lock_guard lock(mutex());
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex());
        return lines_;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        std::lock_guard lock(mutex());
        LogCapture* self = current();
        if (!self || type == QtDebugMsg || !context.category) return;
        if (std::string(context.category) == self->category_)
            self->lines_.push_back(text.toStdString());
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static LogCapture*& current() {
        static LogCapture* c = nullptr;
        return c;
    }

    std::string category_;
    QtMessageHandler previous_ = nullptr;
    std::vector<std::string> lines_;
};

}  // namespace lt::test
