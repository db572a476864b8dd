#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

// The five state badges: a word in capitals on the dialog face colour,
// 50 x 16 pixels, drawn once at start-up.
namespace BadgeImages {

enum Badge { Open = 0, Ready = 1, Running = 2, Pass = 3, Fail = 4, Count = 5 };

QString word(int badge);
QColor colour(int badge);
// The badge's picture; an empty pixmap for a value outside 0..4.
QPixmap picture(int badge);

} // namespace BadgeImages
