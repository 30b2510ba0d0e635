#pragma once
// How wide and how tall the text drawn in a picture of a control is: the columns (rows)
// holding any pixel far from the picture's most common colour. Markup rendered as rich
// text ("<b>x</b>" drawn as a bold "x") is far narrower than the same text shown as
// typed; a caption drawn too small is only a few rows tall.

#include <QImage>
#include <QRect>
#include <cstdlib>
#include <map>
#include <utility>

namespace testing_support {

// The columns (`columns` true) or rows holding ink: first and last, or -1 and -1.
inline std::pair<int, int> InkSpan(const QImage& picture, QRect area, bool columns) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    if (area.isNull()) area = image.rect();
    area &= image.rect();
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (const auto& [colour, count] : counts)
        if (count > most) most = count, background = colour;
    const int outerFirst = columns ? area.left() : area.top(), outerLast = columns ? area.right() : area.bottom();
    const int innerFirst = columns ? area.top() : area.left(), innerLast = columns ? area.bottom() : area.right();
    int first = -1, last = -1;
    for (int o = outerFirst; o <= outerLast; ++o) {
        for (int i = innerFirst; i <= innerLast; ++i) {
            const QRgb p = columns ? image.pixel(o, i) : image.pixel(i, o);
            const int distance = std::abs(qRed(p) - qRed(background)) + std::abs(qGreen(p) - qGreen(background)) +
                                 std::abs(qBlue(p) - qBlue(background));
            if (distance < 120) continue;
            if (first < 0) first = o;
            last = o;
            break;
        }
    }
    return {first, last};
}

inline int InkWidth(const QImage& picture, QRect area = {}) {
    const auto [first, last] = InkSpan(picture, area, true);
    return first < 0 ? 0 : last - first + 1;
}

inline int InkHeight(const QImage& picture, QRect area = {}) {
    const auto [first, last] = InkSpan(picture, area, false);
    return first < 0 ? 0 : last - first + 1;
}

}  // namespace testing_support
