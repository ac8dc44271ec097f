#include "panels/data_screen.h"

#include "record/packet_render.h"

namespace lt {

void DataScreen::wipe(ScreenRow& row) {
    for (ScreenCell& cell : row.ports) {
        cell.bytes.clear();
        cell.length.clear();
        cell.lamps = {};
    }
}

// The newest row's marker is red; the row written before it turns green.
void DataScreen::mark() {
    rows_[(next_ + kRows - 1) % kRows].marker = RowMarker::Earlier;
    rows_[next_].marker = RowMarker::Newest;
}

void DataScreen::showData(ScreenCell& cell, int port, std::string_view packet) {
    // Lengths are counted in full: a long polled packet is shown with its true length.
    cell.length = std::to_string(packet.size());
    cell.bytes = mode(port) == DisplayMode::Hex ? renderHex(packet) : std::string(packet);
}

void DataScreen::advance() {
    ++rows_[next_].writes;
    next_ = (next_ + 1) % kRows;
}

void DataScreen::packetRow(int port, std::string_view packet, const LineStates& lines,
                           const std::optional<LineStates>& other) {
    ScreenRow& row = rows_[next_];
    wipe(row);
    mark();
    row.ports[port - 1].lamps = lines;
    if (other) row.ports[otherPort(port) - 1].lamps = *other;
    showData(row.ports[port - 1], port, packet);
    advance();
}

// Every cell of a polled row is written, so nothing is wiped first.
void DataScreen::pollRow(std::string_view packet1, const LineStates& lines1,
                         std::string_view packet2, const LineStates& lines2) {
    ScreenRow& row = rows_[next_];
    mark();
    row.ports[0].lamps = lines1;
    row.ports[1].lamps = lines2;
    showData(row.ports[0], 1, packet1);
    showData(row.ports[1], 2, packet2);
    advance();
}

void DataScreen::signalRow(int port, const LineStates& lines,
                           const std::optional<LineStates>& other) {
    ScreenRow& row = rows_[next_];
    mark();
    wipe(row);
    row.ports[port - 1].lamps = lines;
    if (other) row.ports[otherPort(port) - 1].lamps = *other;
    advance();
}

bool DataScreen::linesChanged(const LineStates& port1, const LineStates& port2) const {
    return port1 != kept_[0] || port2 != kept_[1];
}

void DataScreen::keepLines(const LineStates& port1, const LineStates& port2) {
    kept_ = {port1, port2};
}

}  // namespace lt
