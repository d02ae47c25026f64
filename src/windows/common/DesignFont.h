#pragma once

#include <QFont>
#include <QStringList>

namespace trv {

// The windows' face: the designed Gothic where it exists, else faces with Arial's metrics
// (Liberation Sans ships with the package), so captions fit the controls they were sized for.
inline QFont designFont(double pointSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace trv
