#include "serial/linux/interruptible_thread.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <mutex>

namespace lt {

namespace {

void ignoreInterrupt(int) {}

}  // namespace

int InterruptibleThread::interruptSignal() {
    static const int sig = [] {
        const int s = SIGRTMIN + 4;
        struct sigaction sa {};
        sa.sa_handler = ignoreInterrupt;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no SA_RESTART: the blocked call returns EINTR
        sigaction(s, &sa, nullptr);
        return s;
    }();
    return sig;
}

void InterruptibleThread::start(std::function<void(const std::atomic<bool>& stopping)> body) {
    stop();
    interruptSignal();
    stopping_ = false;
    finished_ = false;
    notified_ = false;
    thread_ = std::thread([this, body = std::move(body)] {
        // The interrupt signal must reach this thread even if the creator blocked it.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, interruptSignal());
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        body(stopping_);
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        cv_.notify_all();
    });
}

void InterruptibleThread::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    std::unique_lock lock(mutex_);
    while (!finished_) {
        pthread_kill(thread_.native_handle(), interruptSignal());
        cv_.wait_for(lock, std::chrono::milliseconds(2));
    }
    lock.unlock();
    thread_.join();
}

void InterruptibleThread::notify() {
    {
        std::lock_guard lock(mutex_);
        notified_ = true;
    }
    cv_.notify_all();
}

void InterruptibleThread::waitFor(int ms) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms),
                 [this] { return stopping_.load() || notified_; });
    notified_ = false;
}

}  // namespace lt
