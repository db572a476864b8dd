#pragma once

#include "core/StationLines.h"
#include "settings/StationConfig.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QComboBox;

// Port Config, template 158: one editable, sorted combo box per line with
// "NULL" and the ports the engine found; lines 6 to 8 and Cancel are hidden.
class PortConfigDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PortConfigDialog)

public:
    static constexpr int kMaxPorts = 256;

    PortConfigDialog(const std::array<int32_t, kMaxPorts>& ports, int count,
                     const std::array<LinePort, kLines>& current, QWidget* parent = nullptr);

    // Each line's edit-field text when the dialog closed with OK.
    const std::array<QString, kLines>& selection() const { return m_selection; }
    QComboBox* combo(int line) const { return m_combos[size_t(line)]; }

    void accept() override;

private:
    void startPortManagement();

    std::array<QComboBox*, kLines> m_combos{};
    std::array<QString, kLines> m_selection;
};
