#include "ui/window/round_lamp.h"

#include <QPainter>

#include "engine/colors.h"

namespace lt {

QColor windowColor(std::uint32_t value, const QPalette& palette) {
    switch (value) {
        case color::ScrollBar:
            return palette.color(QPalette::Mid);
        case color::WindowBackground:
            return palette.color(QPalette::Base);
        case color::ButtonFace:
            return palette.color(QPalette::Button);
        default:
            break;
    }
    if (color::isSystem(value)) return palette.color(QPalette::Window);
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

RoundLamp::RoundLamp(QWidget* parent) : QWidget(parent), value_(color::WindowBackground) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void RoundLamp::setColorValue(std::uint32_t value) {
    if (value == value_) return;
    value_ = value;
    update();
}

QColor RoundLamp::shownColor() const {
    return windowColor(value_, palette());
}

void RoundLamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(shownColor());
    const qreal side = qMin(width(), height()) - 1.0;
    p.drawEllipse(QRectF(0.5, 0.5, side, side));
}

}  // namespace lt
