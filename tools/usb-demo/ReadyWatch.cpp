#include "ReadyWatch.h"

#include "app/MainDialog.h"
#include "app/MainWindowLayout.h"
#include "platform/ProcessEnd.h"
#include "settings/LanguageText.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

#include <cstdio>

namespace {

MainDialog* toolWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainDialog*>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

QString labelText(MainDialog& window, int id, bool accessible = false)
{
    auto* label = qobject_cast<QLabel*>(window.Control(id));
    if (!label)
        return {};
    return accessible ? label->accessibleName() : label->text();
}

} // namespace

ReadyWatch::ReadyWatch(std::vector<bool> bootRomLines, int timeLimitMs)
    : m_bootRomLines(std::move(bootRomLines))
{
    connect(&m_poll, &QTimer::timeout, this, &ReadyWatch::check);
    m_poll.start(200);
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        std::printf("usb-demo: the lines did not all come up in time\n");
        if (MainDialog* window = toolWindow())
            printLines(*window);
        // A box the tool opened during set-up says why.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                std::printf("message box: %s\n", qPrintable(box->text()));
        }
        std::fflush(stdout);
        ProcessEnd::endProcess(1);
    });
    m_limit.start(timeLimitMs);
}

bool ReadyWatch::lineAsExpected(MainDialog& window, int line) const
{
    const MainWindowLayout::LineIds& ids = MainWindowLayout::kLineIds[size_t(line)];
    if (m_bootRomLines[size_t(line)])
        return labelText(window, ids.info) == LanguageText::Instance().Lookup("IDC_EXE_INFO_PHONEINARMMODE");
    return labelText(window, ids.badge, true) == QLatin1String("READY");
}

void ReadyWatch::check()
{
    MainDialog* window = toolWindow();
    if (!window)
        return;
    for (int line = 0; line < int(m_bootRomLines.size()); ++line) {
        if (!lineAsExpected(*window, line))
            return;
    }
    m_poll.stop();
    m_limit.stop();
    std::printf("usb-demo: all lines as expected\n");
    printLines(*window);
    std::fflush(stdout);
    window->RequestClose();
}

void ReadyWatch::printLines(MainDialog& window) const
{
    for (int line = 0; line < int(m_bootRomLines.size()); ++line) {
        const MainWindowLayout::LineIds& ids = MainWindowLayout::kLineIds[size_t(line)];
        std::printf("line %d: port %s, %s, %s, IMEI %s\n", line + 1, qPrintable(labelText(window, ids.port)),
                    qPrintable(labelText(window, ids.badge, true)), qPrintable(labelText(window, ids.info)),
                    qPrintable(labelText(window, ids.imei)));
    }
}
