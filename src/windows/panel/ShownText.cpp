#include "windows/panel/ShownText.h"

#include <QWidget>

namespace trv {

ShownText::ShownText(const QWidget& display)
    // A tenth of the width more: shaping a whole text (kerning, ligatures) moves a glyph by a
    // fraction of its advance from where the advances alone put it, so where the cut falls
    // nothing on screen can differ.
    : metrics_(display.font(), &display), reach_(display.width() * 1.1) {
    advance_.fill(-1);
}

QString ShownText::of(std::string_view text) {
    qreal x = 0;
    std::size_t n = 0;
    while (n < text.size() && x <= reach_) {
        qreal& advance = advance_[static_cast<unsigned char>(text[n])];
        if (advance < 0)
            advance = metrics_.horizontalAdvance(QChar(static_cast<unsigned char>(text[n])));
        x += advance;
        ++n;
    }
    return QString::fromLatin1(text.data(), qsizetype(n));
}

} // namespace trv
