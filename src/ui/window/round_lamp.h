#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

namespace lt {

// A lamp or row marker: a small circle filled with one colour, given as a window-system value
// 0x00BBGGRR or a system colour (0x80000000 and up), which is looked up in the palette.
class RoundLamp : public QWidget {
    Q_OBJECT
public:
    explicit RoundLamp(QWidget* parent = nullptr);

    void setColorValue(std::uint32_t value);
    std::uint32_t colorValue() const { return value_; }
    QColor shownColor() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::uint32_t value_;
};

// The colour a window-system value stands for: 0x00BBGGRR, or a system colour from `palette`
// (scroll bar: Mid, window background: Base, button face: Button).
QColor windowColor(std::uint32_t value, const QPalette& palette);

}  // namespace lt
