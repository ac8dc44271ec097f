#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/host.h"
#include "record/record_sink.h"
#include "sim/virtual_loop.h"

namespace lt::sim {

// Host services on the virtual clock. Message boxes are collected, never shown.
class TestHost : public Host {
public:
    explicit TestHost(VirtualLoop& loop) : loop_(loop) {}

    std::unique_ptr<Timer> createTimer() override {
        auto timer = std::make_unique<VirtualTimer>(loop_);
        timers.push_back(timer.get());
        return timer;
    }
    void processEvents() override {
        ++yields;
        if (onYield) onYield();
        loop_.runUntil(loop_.now());
    }
    void showMessage(const std::string& text) override {
        messages.push_back(text);
        // The user reads the box; meanwhile the event loop runs.
        if (whileMessageShown) whileMessageShown(text);
    }
    void notify(const std::string& text) override { messages.push_back(text); }
    QDateTime currentDateTime() const override {
        return startTime.addMSecs(loop_.now() / kNanosPerMs);
    }
    Nanos monotonicNow() const override { return loop_.now(); }
    std::int64_t wallClockMicros() const override {
        return startTime.toMSecsSinceEpoch() * 1000 + loop_.now() / 1000;
    }
    std::optional<std::string> environment(const std::string& name) const override {
        if (const auto it = env.find(name); it != env.end()) return it->second;
        return std::nullopt;
    }
    void quit() override { quitRequested = true; }

    std::vector<std::string> messages;
    std::function<void(const std::string&)> whileMessageShown;
    std::map<std::string, std::string> env;
    QDateTime startTime{QDate(2026, 12, 6), QTime(14, 5, 9, 370)};
    bool quitRequested = false;
    int yields = 0;
    std::vector<VirtualTimer*> timers;  // every timer made, so a test can set their `latency`
    std::function<void()> onYield;      // a click made while the program yields to the loop

private:
    VirtualLoop& loop_;
};

// Records kept in memory; `failing` makes every write fail, as on a full disk.
class MemoryRecords : public RecordSink {
public:
    bool open(const std::string& p) override {
        if (failOpen) return false;
        path = p;
        opened = true;
        return true;
    }
    bool append(const std::string& bytes) override {
        if (!opened || failing) return false;
        text += bytes;
        return true;
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }

    std::string path, text;
    bool opened = false, failing = false, failOpen = false;
};

}  // namespace lt::sim
