#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <array>
#include <string_view>

class QWidget;

namespace trv {

// The start of a traffic text that a display can show. A display clips what goes beyond its
// right edge, so giving it only what reaches that far (and some more) draws the same, while a
// text that keeps growing past the edge leaves the display's text as it was: it is neither laid
// out nor repainted again for characters nobody can see.
class ShownText {
public:
    // For `display`'s font and width as they are now.
    explicit ShownText(const QWidget& display);

    QString of(std::string_view text);

private:
    QFontMetricsF metrics_;
    qreal reach_;
    std::array<qreal, 256> advance_; // of each Latin-1 character, negative until measured
};

} // namespace trv
