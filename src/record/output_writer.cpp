#include "record/output_writer.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace lt {

namespace {

std::atomic<OutputWriter::Clock::rep> g_stopBy{0};  // 0: no stop deadline set

}  // namespace

struct OutputWriter::State {
    struct Piece {
        std::string bytes;  // empty: only the marker of the pieces lost before it
        std::uint64_t lostBefore = 0;
        std::int64_t lostSince = 0;
    };

    std::unique_ptr<OutputDestination> destination;
    Options options;
    Tell tell;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Piece> waiting;
    std::size_t backlog = 0;
    bool opened = false;
    bool closing = false;  // no more pieces are taken
    bool done = false;     // the writer has finished (thread or not)
    bool gone = false;
    std::uint64_t dropped = 0;      // dropped in all, the backlog being full
    std::uint64_t pendingLost = 0;  // dropped since the last piece queued
    std::int64_t lostSince = 0;
    bool dropTold = false;
    // Pieces the destination refused; told when it starts failing and when it works again.
    bool failing = false;
    std::uint64_t failedNow = 0;
    std::atomic<std::uint64_t> failedInAll{0};
    std::atomic<bool> abandoned{false};

    void say(const std::string& text) {
        if (!abandoned && tell) tell(text);
    }

    std::string count(std::uint64_t n) const { return std::to_string(n) + " " + options.pieces; }

    bool openDestination() {
        const bool ok = destination->open([this] {
            std::lock_guard lock(mutex);
            return !closing;
        });
        std::lock_guard lock(mutex);
        opened = ok;
        if (!ok) gone = true;
        changed.notify_all();
        return ok;
    }

    // Writes one piece (its marker first); called without the lock.
    void deliver(const Piece& piece) {
        if (piece.lostBefore > 0 && options.lostMark) {
            if (destination->write(options.lostMark(piece.lostBefore, piece.lostSince)) ==
                Delivery::Gone) {
                readerGone();
                return;
            }
        }
        if (piece.bytes.empty()) return;
        switch (destination->write(piece.bytes)) {
            case Delivery::Written:
                if (failing) {
                    failing = false;
                    say(options.name + ": written again; " + count(failedNow) + " lost");
                    failedNow = 0;
                }
                break;
            case Delivery::Failed:
                ++failedNow;
                ++failedInAll;
                if (!failing) {
                    failing = true;
                    say(options.name + ": cannot be written (" + destination->problem() + "); " +
                        options.pieces + " are lost until it can");
                }
                break;
            case Delivery::Gone:
                readerGone();
                break;
        }
    }

    void readerGone() {
        {
            std::lock_guard lock(mutex);
            if (gone) return;
            gone = true;
            waiting.clear();
            backlog = 0;
        }
        if (!options.goneNotice.empty()) say(options.goneNotice);
    }

    // Takes the next piece, waiting for one when `wait`; false when there is none to write.
    bool next(Piece& piece, bool wait) {
        std::unique_lock lock(mutex);
        if (wait) changed.wait(lock, [this] { return !waiting.empty() || closing; });
        if (waiting.empty() || gone) return false;
        piece = std::move(waiting.front());
        waiting.pop_front();
        backlog -= piece.bytes.size() + kPieceOverhead;
        return true;
    }

    void run() {
        if (!opened && !openDestination()) {
            finishRun();
            return;
        }
        for (Piece piece; next(piece, true) && !abandoned;) deliver(piece);
        finishRun();
    }

    void finishRun() {
        std::lock_guard lock(mutex);
        done = true;
        changed.notify_all();
    }
};

OutputWriter::OutputWriter(std::unique_ptr<OutputDestination> destination, Options options,
                           Tell tell, bool opened)
    : state_(std::make_shared<State>()) {
    state_->destination = std::move(destination);
    state_->options = std::move(options);
    state_->tell = std::move(tell);
    state_->opened = opened;
}

OutputWriter::~OutputWriter() {
    finish();
}

void OutputWriter::start() {
    if (threaded_ || finished_) return;
    threaded_ = true;
    // The thread keeps the state alive: one left in a blocked write ends with the program.
    std::thread([state = state_] { state->run(); }).detach();
}

bool OutputWriter::offer(std::string piece, std::int64_t wallMicros) {
    State& s = *state_;
    bool tellDrop = false;
    {
        std::lock_guard lock(s.mutex);
        if (s.closing || s.gone || (s.options.beginsWhenOpen && !s.opened)) return false;
        const std::size_t cost = piece.size() + kPieceOverhead;
        // A piece larger than the whole bound still goes when nothing waits before it.
        if (!s.waiting.empty() && s.backlog + cost > s.options.bound) {
            ++s.dropped;
            if (s.pendingLost++ == 0) s.lostSince = wallMicros;
            tellDrop = !s.dropTold;
            s.dropTold = true;
        } else {
            s.waiting.push_back({std::move(piece), s.pendingLost, s.lostSince});
            s.pendingLost = 0;
            s.backlog += cost;
            s.changed.notify_all();
            return true;
        }
    }
    if (tellDrop)
        s.say(s.options.name + ": its reader falls behind; whole " + s.options.pieces +
              " are dropped while its backlog is full (counted)");
    return false;
}

void OutputWriter::finish(Clock::time_point deadline) {
    if (finished_) return;
    finished_ = true;
    State& s = *state_;
    std::uint64_t unwritten = 0;
    {
        std::unique_lock lock(s.mutex);
        s.closing = true;
        // The drops after the last piece queued are marked too.
        if (s.pendingLost > 0 && s.opened && !s.gone) {
            s.waiting.push_back({"", s.pendingLost, s.lostSince});
            s.backlog += kPieceOverhead;  // as every waiting piece is counted
            s.pendingLost = 0;
        }
        s.changed.notify_all();
        if (threaded_ && !s.changed.wait_until(lock, deadline, [&] { return s.done; })) {
            // What the reader did not take by the deadline is lost with the stop: said, not hidden.
            for (const State::Piece& piece : s.waiting)
                if (!piece.bytes.empty()) ++unwritten;
            s.abandoned = true;
        }
    }
    if (!threaded_) {
        writeWaiting();
        std::lock_guard lock(s.mutex);
        s.done = true;
    }
    std::uint64_t dropped, failed;
    {
        std::lock_guard lock(s.mutex);
        dropped = s.dropped;
        failed = s.failedInAll.load();
    }
    // The thread may still be in a write that never returns: from here on only this side talks.
    s.abandoned = true;
    if (dropped > 0)
        s.tell(s.options.name + ": " + s.count(dropped) +
               " dropped in all (its reader fell behind)");
    if (failed > 0)
        s.tell(s.options.name + ": " + s.count(failed) + " could not be written in all");
    if (unwritten > 0)
        s.tell(s.options.name + ": " + s.count(unwritten) +
               " not written at the stop (its reader did not take them in time)");
}

std::size_t OutputWriter::writeWaiting(std::size_t count) {
    State& s = *state_;
    if (threaded_) return 0;
    if (!s.opened && !s.gone && !s.openDestination()) return 0;
    std::size_t written = 0;
    for (State::Piece piece; written < count && s.next(piece, false); ++written) s.deliver(piece);
    return written;
}

void OutputWriter::stopBy(Clock::time_point deadline) {
    g_stopBy = deadline.time_since_epoch().count();
}

OutputWriter::Clock::time_point OutputWriter::defaultDeadline() {
    const Clock::rep stop = g_stopBy;
    if (stop != 0) return Clock::time_point(Clock::duration(stop));
    return Clock::now() + std::chrono::seconds(1);
}

}  // namespace lt
