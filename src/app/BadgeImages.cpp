#include "app/BadgeImages.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

#include <array>

namespace BadgeImages {

namespace {
struct BadgeLook
{
    const char* word;
    QRgb colour;
};
constexpr std::array<BadgeLook, Count> kLooks = {{
    {"OPEN", qRgb(0, 0, 255)},
    {"READY", qRgb(0, 128, 0)},
    {"RUNNING", qRgb(255, 255, 0)},
    {"PASS", qRgb(0, 255, 0)},
    {"FAIL", qRgb(255, 0, 0)},
}};
constexpr int kWidth = 50;
constexpr int kHeight = 16;

QPixmap draw(int badge)
{
    QPixmap pixmap(kWidth, kHeight);
    // The grey face of the pictures takes the dialog face colour.
    pixmap.fill(QApplication::palette().color(QPalette::Window));
    QPainter painter(&pixmap);
    // The largest bold face up to 11 pixels in which the word fits.
    const QString text = QString::fromLatin1(kLooks[size_t(badge)].word);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    for (int size = 11; size > 6; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(text) <= kWidth - 2)
            break;
    }
    painter.setFont(font);
    painter.setPen(QColor(kLooks[size_t(badge)].colour));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, text);
    return pixmap;
}
} // namespace

QString word(int badge)
{
    return badge >= 0 && badge < Count ? QString::fromLatin1(kLooks[size_t(badge)].word) : QString();
}

QColor colour(int badge)
{
    return badge >= 0 && badge < Count ? QColor(kLooks[size_t(badge)].colour) : QColor();
}

QPixmap picture(int badge)
{
    static std::array<QPixmap, Count> cache;
    if (badge < 0 || badge >= Count)
        return {};
    if (cache[size_t(badge)].isNull())
        cache[size_t(badge)] = draw(badge);
    return cache[size_t(badge)];
}

} // namespace BadgeImages
