#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>
#include <variant>

namespace lt {

// A lamp or row marker: a small circle filled with one colour, either a fixed colour or a role of
// the palette (an unlit lamp takes the colour of a text box's background).
class RoundLamp : public QWidget {
    Q_OBJECT
public:
    using Fill = std::variant<QPalette::ColorRole, QColor>;

    explicit RoundLamp(QWidget* parent = nullptr);

    void setFill(const Fill& fill);
    QColor shownColor() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Fill fill_ = QPalette::Base;
};

}  // namespace lt
