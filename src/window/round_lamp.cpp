#include "window/round_lamp.h"

#include <QPainter>

namespace lt {

RoundLamp::RoundLamp(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void RoundLamp::setFill(const Fill& fill) {
    if (fill == fill_) return;
    fill_ = fill;
    update();
}

QColor RoundLamp::shownColor() const {
    if (const auto* role = std::get_if<QPalette::ColorRole>(&fill_)) return palette().color(*role);
    return std::get<QColor>(fill_);
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
