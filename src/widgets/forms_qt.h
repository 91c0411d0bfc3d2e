// The forms models' units on Qt: twips to pixels, 0xBBGGRR to QColor, fonts.
#pragma once

#include <vantor/forms.h>

#include <QColor>
#include <QFont>
#include <QRect>
#include <cmath>

namespace vantor {

inline constexpr double kTwipsPerInch = 1440.0;

// Pixels at a logical resolution of `dpi` dots per inch.
inline int twipsToPixels(double twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

// Edges are converted rather than the size, so that neighbours that touch in
// twips still touch in pixels.
inline QRect twipsToPixels(const TwipRect& r, double dpiX, double dpiY) {
    const int left = twipsToPixels(r.left, dpiX);
    const int top = twipsToPixels(r.top, dpiY);
    return QRect(left, top, twipsToPixels(r.left + r.width, dpiX) - left,
                 twipsToPixels(r.top + r.height, dpiY) - top);
}

// Red is the low byte.
inline QColor toQColor(Colour c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

inline QFont toQFont(const Font& f) {
    QFont font(QString::fromStdString(f.name));
    font.setPointSizeF(f.points);
    font.setBold(f.bold);
    return font;
}

}  // namespace vantor
