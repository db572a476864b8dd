#pragma once

#include <QString>

#include <array>
#include <vector>
#include "core/StationLines.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

// The widgets of the eight line rows and the one way they change: the row
// operations of the main window, carried out on its controls.
class LineRowWidgets final
{
public:

    // widgets in the order of MainWindowLayout::lineRow.
    void Attach(int line, const std::vector<QWidget*>& widgets);

    void SetLineItem(int kind, int line, const QString& text);
    void SetLineProgress(int percent, int line);

    QPushButton* Button(int line) const { return m_rows[size_t(line)].button; }
    QLabel* Imei(int line) const { return m_rows[size_t(line)].imei; }
    QLabel* Version(int line) const { return m_rows[size_t(line)].version; }

private:
    struct Row
    {
        QPushButton* button = nullptr;
        QLabel* port = nullptr;
        QLabel* elapsed = nullptr;
        QLabel* info = nullptr;
        QProgressBar* progress = nullptr;
        QLabel* percent = nullptr;
        QLabel* imei = nullptr;
        QLabel* version = nullptr;
        QLabel* badge = nullptr;
    };

    static void colourInfo(QLabel* info);

    std::array<Row, kLines> m_rows;
};
