#include "app/LineRowWidgets.h"

#include "app/BadgeImages.h"
#include "lines/LineState.h"
#include "platform/IniFile.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace {

// Texts that the info labels colour, compared whole.
bool isSuccessText(const QString& text)
{
    return text == QStringLiteral("升级成功") || text == QStringLiteral("Download succeed");
}

bool isFailureText(const QString& text)
{
    return text == QStringLiteral("版本不匹配") || text == QStringLiteral("升级失败")
        || text == QStringLiteral("不支持该版本升级");
}

} // namespace

void LineRowWidgets::Attach(int line, const std::vector<QWidget*>& widgets)
{
    Row& row = m_rows[size_t(line)];
    row.button = qobject_cast<QPushButton*>(widgets[1]);
    row.port = qobject_cast<QLabel*>(widgets[2]);
    row.elapsed = qobject_cast<QLabel*>(widgets[3]);
    row.info = qobject_cast<QLabel*>(widgets[4]);
    row.badge = qobject_cast<QLabel*>(widgets[5]);
    row.progress = qobject_cast<QProgressBar*>(widgets[6]);
    row.percent = qobject_cast<QLabel*>(widgets[7]);
    row.imei = qobject_cast<QLabel*>(widgets[8]);
    row.version = qobject_cast<QLabel*>(widgets[9]);
    row.badge->setPixmap(BadgeImages::picture(BADGE_OPEN));
    row.badge->setAccessibleName(BadgeImages::word(BADGE_OPEN));
}

void LineRowWidgets::SetLineItem(int kind, int line, const QString& text)
{
    if (line < 0 || line >= kLines)
        return;
    const Row& row = m_rows[size_t(line)];
    switch (kind) {
    case LINE_ITEM_ELAPSED:
        row.elapsed->setText(text);
        row.elapsed->update();
        break;
    case LINE_ITEM_INFO:
        row.info->setText(text);
        colourInfo(row.info);
        break;
    case LINE_ITEM_PROGRESS: row.progress->setValue(std::clamp(LeadingInt(text.toUtf8()), 0, 100)); break;
    case LINE_ITEM_PERCENT: row.percent->setText(text); break;
    case LINE_ITEM_BUTTON: row.button->setEnabled(text == ButtonText(BUTTON_ENABLED)); break;
    case LINE_ITEM_IMEI: row.imei->setText(text); break;
    case LINE_ITEM_VERSION: row.version->setText(text); break;
    case LINE_ITEM_BADGE: {
        const int badge = LeadingInt(text.toUtf8());
        row.badge->setPixmap(BadgeImages::picture(badge));
        row.badge->setAccessibleName(BadgeImages::word(badge));
        break;
    }
    case LINE_ITEM_PORT: row.port->setText(text); break;
    case LINE_ITEM_INFO_TIP: row.info->setToolTip(text); break;
    default: break;
    }
}

void LineRowWidgets::colourInfo(QLabel* info)
{
    QPalette palette = info->parentWidget()->palette();
    const QString text = info->text();
    if (isSuccessText(text))
        palette.setColor(QPalette::WindowText, QColor(0, 255, 0));
    else if (isFailureText(text))
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    info->setPalette(palette);
}

void LineRowWidgets::SetLineProgress(int percent, int line)
{
    if (line < 0 || line >= kLines)
        return;
    if (percent == 0) {
        m_rows[size_t(line)].progress->setRange(0, 100);
        SetLineItem(LINE_ITEM_PROGRESS, line, QStringLiteral("0"));
        SetLineItem(LINE_ITEM_PERCENT, line, QStringLiteral("0/100"));
    } else {
        SetLineItem(LINE_ITEM_PROGRESS, line, QString::number(percent));
        SetLineItem(LINE_ITEM_PERCENT, line, QStringLiteral("%1/100").arg(percent));
    }
    m_rows[size_t(line)].percent->update();
}
