#pragma once
// How wide the text drawn in a picture of a control is: the columns holding any pixel
// far from the picture's most common colour. Markup rendered as rich text ("<b>x</b>"
// drawn as a bold "x") is far narrower than the same text shown as typed.

#include <QImage>
#include <QRect>
#include <cstdlib>
#include <map>

namespace testing_support {

inline int InkWidth(const QImage& picture, QRect area = {}) {
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
    int first = -1, last = -1;
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const QRgb p = image.pixel(x, y);
            const int distance = std::abs(qRed(p) - qRed(background)) + std::abs(qGreen(p) - qGreen(background)) +
                                 std::abs(qBlue(p) - qBlue(background));
            if (distance < 120) continue;
            if (first < 0) first = x;
            last = x;
            break;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

}  // namespace testing_support
