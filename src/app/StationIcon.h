#pragma once

#include <QIcon>

// The application icon, drawn once.
namespace StationIcon {
QIcon icon();
QPixmap pixmap(int size);
} // namespace StationIcon
