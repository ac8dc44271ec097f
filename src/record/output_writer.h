#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lt {

// What became of one piece handed to a destination.
enum class Delivery {
    Written,  // all of it went to the operating system
    Failed,   // not written (a full disk); the next piece is tried again
    Gone,     // the reader has gone for good (a pipe's reader closed it); nothing more is written
};

// Where one output's pieces go (a record file, standard output, a capture file or pipe). Used on
// the output's writer thread only, once handed to an OutputWriter.
class OutputDestination {
public:
    virtual ~OutputDestination() = default;
    // Gets a destination ready that could not be opened at once (a named pipe without a reader):
    // waits as long as `keepWaiting` says. False when it cannot be written at all.
    virtual bool open(const std::function<bool()>& keepWaiting) {
        (void)keepWaiting;
        return true;
    }
    virtual Delivery write(const std::string& piece) = 0;
    // The reason of the last failure, for a message.
    virtual std::string problem() const { return {}; }
};

// One output written by a thread of its own, so that a slow, stalled or departed reader never
// holds up the thread that takes, relays and shows packets. Pieces (records, capture blocks) wait
// in a backlog bounded in bytes; a piece that would overflow it is dropped whole and counted, and
// the destination is told where the hole is (a marker piece before the next piece written). Every
// notice is given once: the first drop, a destination that starts failing and one that works
// again (with the count lost), a reader gone, and the totals when the output is finished.
class OutputWriter {
public:
    // The backlog of one output: 1 MiB, each waiting piece counted with its bookkeeping.
    static constexpr std::size_t kBacklogBytes = 1 << 20;
    static constexpr std::size_t kPieceOverhead = 64;
    using Clock = std::chrono::steady_clock;

    struct Options {
        std::string name;  // "standard output", "record file /x/y.txt"
        std::string pieces = "records";
        std::size_t bound = kBacklogBytes;
        // The piece that marks `lost` pieces dropped (the first at `wallMicros`) before the next
        // one; none when empty.
        std::function<std::string(std::uint64_t lost, std::int64_t wallMicros)> lostMark;
        // Told when the reader leaves; printing or capture stops.
        std::string goneNotice;
        // Pieces offered before the destination has opened are not kept (a capture pipe begins
        // when its reader opens it).
        bool beginsWhenOpen = false;
    };
    // Gives a notice; called from the writer thread as well as the caller's.
    using Tell = std::function<void(const std::string&)>;

    // `opened`: the destination was opened already; otherwise the writer opens it first.
    OutputWriter(std::unique_ptr<OutputDestination> destination, Options options, Tell tell,
                 bool opened = true);
    // Finishes with the process-wide stop deadline, or a second from now.
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Starts the writer thread. Without it (tests) pieces are written by writeWaiting().
    void start();

    // Queues one piece (never waits). False when it was dropped: the backlog is full (counted),
    // the reader has gone, or the destination has not opened yet.
    bool offer(std::string piece, std::int64_t wallMicros);

    // Takes no more pieces; what waits is written until `deadline`, then a write still blocked is
    // left behind (its thread ends with the program) and the totals are told. Idempotent.
    void finish(Clock::time_point deadline);
    void finish() { finish(defaultDeadline()); }

    // Without a thread: opens the destination when due and writes up to `count` waiting pieces;
    // returns how many were written or failed.
    std::size_t writeWaiting(std::size_t count = SIZE_MAX);

    // The moment every output has to be finished by (a signal stops the program); until it is
    // set, finishing waits for at most a second.
    static void stopBy(Clock::time_point deadline);
    static Clock::time_point defaultDeadline();

private:
    struct State;
    std::shared_ptr<State> state_;
    bool threaded_ = false;
    bool finished_ = false;
};

}  // namespace lt
