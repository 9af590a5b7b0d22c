#pragma once

#include <QImage>
#include <QWidget>

// The window's dark background, for checking how views blend over it.
inline constexpr QRgb kDark = 0xFF191B1D;

inline QWidget *makeDarkPanel(int width, int height) {
    auto *panel = new QWidget;
    panel->resize(width, height);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kDark));
    panel->setPalette(palette);
    panel->setAutoFillBackground(true);
    return panel;
}

// What the panel and its children look like, one image pixel per widget pixel.
inline QImage renderPanel(QWidget *panel) {
    return panel->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// `over` laid at `opacity` on `under`, per channel.
inline QRgb blended(QRgb over, double opacity, QRgb under) {
    auto mix = [&](int a, int b) { return qRound(a * opacity + b * (1 - opacity)); };
    return qRgb(mix(qRed(over), qRed(under)), mix(qGreen(over), qGreen(under)),
                mix(qBlue(over), qBlue(under)));
}

inline bool closeTo(QRgb actual, QRgb expected, int tolerance) {
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}
