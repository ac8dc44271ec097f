#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "base/types.h"

namespace lt {

// How a port's packets appear on the data screen: "Bit" shows every byte as two hexadecimal
// digits, "Text" the bytes as received.
enum class DisplayMode { Hex, Text };

// The marker beside a row: never written since start-up, written earlier, or the newest row.
enum class RowMarker { Off, Earlier, Newest };

// One port's half of a row: its data, its length label and its five lamps.
struct ScreenCell {
    std::string bytes;         // one character per byte, as the port received them
    std::string length = "0";  // empty on a row that shows no data of this port
    LineStates lamps;          // a lamp is lit while its line is on
};

struct ScreenRow {
    RowMarker marker = RowMarker::Off;
    std::array<ScreenCell, kPorts> ports;  // port 1, port 2
    unsigned writes = 0;                   // counts every write of the row, changed or not
};

// The data screen: a ring of ten rows that every framed packet, poll and change of the modem
// lines overwrites in turn, the marker of the newest row, the display modes of the two ports, and
// the snapshot of the ten line states against which a change of the lines is judged.
class DataScreen {
public:
    static constexpr int kRows = 10;
    using Rows = std::array<ScreenRow, kRows>;

    const Rows& rows() const { return rows_; }
    int nextRow() const { return next_; }

    DisplayMode mode(int port) const { return modes_[port - 1]; }
    // Rows already shown keep their form; the next row of that port uses the new one.
    void setMode(int port, DisplayMode mode) { modes_[port - 1] = mode; }

    // One framed packet of `port`. The other port's lamps are shown only when it is switched on
    // (`other` given); its cell stays empty.
    void packetRow(int port, std::string_view packet, const LineStates& lines,
                   const std::optional<LineStates>& other);
    // One poll: both ports' packets and lamps.
    void pollRow(std::string_view packet1, const LineStates& lines1, std::string_view packet2,
                 const LineStates& lines2);
    // A change of the lines seen on `port`: lamps only.
    void signalRow(int port, const LineStates& lines, const std::optional<LineStates>& other);

    // Whether the ten lines differ from the snapshot, and storing them as the new snapshot.
    bool linesChanged(const LineStates& port1, const LineStates& port2) const;
    void keepLines(const LineStates& port1, const LineStates& port2);

    // A new run writes from the first row; old rows stay until overwritten.
    void restart() { next_ = 0; }
    // Stop leaves the tenth row's marker green.
    void markStopped() { rows_[kRows - 1].marker = RowMarker::Earlier; }

private:
    void wipe(ScreenRow& row);
    void mark();
    void showData(ScreenCell& cell, int port, std::string_view packet);
    void advance();

    Rows rows_{};
    int next_ = 0;
    std::array<DisplayMode, kPorts> modes_{DisplayMode::Text, DisplayMode::Text};
    std::array<LineStates, kPorts> kept_{};
};

}  // namespace lt
