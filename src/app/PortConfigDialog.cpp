#include "app/PortConfigDialog.h"

#include "app/DialogTemplate.h"
#include "platform/Shell.h"
#include "platform/StationPaths.h"

#include <QComboBox>
#include <QPushButton>

#include <algorithm>

namespace {

using K = ControlSpec::Kind;
constexpr int kWidth = 112;
constexpr int kHeight = 137;
constexpr int kFontPoints = 10;
constexpr int kVisibleLines = 5;
constexpr int kFirstCombo = 1085;
constexpr int kPortManagement = 1093;

std::vector<ControlSpec> portTemplate()
{
    std::vector<ControlSpec> controls;
    for (int line = 0; line < kLines; ++line) {
        const bool hidden = line >= kVisibleLines;
        const int y = 14 + 14 * line;
        controls.push_back({K::Label, 0, QStringLiteral("LINE_%1 :").arg(line + 1), 13, y, 30, 8, hidden});
        controls.push_back({K::Combo, kFirstCombo + line, QString(), 45, y - 1, 48, 65, hidden});
    }
    controls.push_back({K::Button, kPortManagement, QStringLiteral("Device Port Management"), 11, 91, 92, 14});
    controls.push_back({K::DefaultButton, 1, QStringLiteral("OK"), 32, 111, 47, 15});
    controls.push_back({K::Button, 2, QStringLiteral("Cancel"), 32, 111, 47, 15, true});
    return controls;
}

// The list the combo boxes show: "NULL" and "USB_%03d" of every port, in
// text order as a sorted list keeps them.
QStringList portEntries(const std::array<int32_t, PortConfigDialog::kMaxPorts>& ports, int count)
{
    QStringList entries{QStringLiteral("NULL")};
    for (int i = 0; i < std::clamp(count, 0, PortConfigDialog::kMaxPorts); ++i)
        entries << PortDisplayName(ports[size_t(i)]);
    std::sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return entries;
}

} // namespace

PortConfigDialog::PortConfigDialog(const std::array<int32_t, kMaxPorts>& ports, int count,
                                   const std::array<LinePort, kLines>& current, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Port Config"));
    QFont font = this->font();
    font.setPointSize(kFontPoints);
    setFont(font);
    const DialogTemplate layout(font);
    const std::vector<QWidget*> widgets = layout.createAll(portTemplate(), this);
    const QStringList entries = portEntries(ports, count);
    for (int line = 0; line < kLines; ++line) {
        QComboBox* combo = qobject_cast<QComboBox*>(widgets[size_t(2 * line + 1)]);
        combo->addItems(entries);
        combo->setCurrentIndex(combo->findText(QStringLiteral("NULL")));
        if (current[size_t(line)].number > 0)
            combo->setEditText(current[size_t(line)].name);
        m_combos[size_t(line)] = combo;
    }
    const size_t buttons = 2 * kLines;
    connect(qobject_cast<QPushButton*>(widgets[buttons]), &QPushButton::clicked, this,
            &PortConfigDialog::startPortManagement);
    connect(qobject_cast<QPushButton*>(widgets[buttons + 1]), &QPushButton::clicked, this, &QDialog::accept);
    connect(qobject_cast<QPushButton*>(widgets[buttons + 2]), &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(layout.sizeToPixels(kWidth, kHeight));
}

void PortConfigDialog::accept()
{
    for (int line = 0; line < kLines; ++line)
        m_selection[size_t(line)] = m_combos[size_t(line)]->currentText();
    QDialog::accept();
}

void PortConfigDialog::startPortManagement()
{
    Shell::startProgram(StationPaths::executableDir() + QStringLiteral("PortWarden"));
}
