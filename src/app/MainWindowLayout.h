#pragma once

#include "core/StationLines.h"
#include "app/DialogTemplate.h"

#include <array>
#include <vector>

// Window template 102: the eight line rows and the controls below them, as
// data. Lines 6 to 8 exist but are created hidden.
namespace MainWindowLayout {

constexpr int kVisibleLines = 5;
constexpr int kWidth = 331;  // dialog units
constexpr int kHeight = 210;
constexpr int kFontPoints = 10;

// Control identifiers of one line row.
struct LineIds
{
    int button, port, elapsed, info, progress, percent, imei, version, badge;
};

extern const std::array<LineIds, kLines> kLineIds;

enum ControlId {
    IdVersionButton = 1012,
    IdVersionField = 1011,
    IdStartAll = 1084,
    IdClear = 1027,
    IdSuccessCaption = 1094,
    IdSuccessCounts = 1026,
    IdTotalCaption = 1095,
    IdTotalCounts = 1025,
    IdClockCaption = 1096,
    IdClock = 1023,
    IdClearTimeCaption = 1097,
    IdClearTime = 1024,
    IdHiddenStart = 1019,
};

enum MenuCommand {
    CmdPortConfig = 32776,
    CmdExport = 1017,
    CmdHelp = 32775,
    CmdAbout = 32774,
    CmdDbStatus = 32777, // only when the station sends records to a database
};

std::vector<ControlSpec> lineRow(int line);
std::vector<ControlSpec> otherControls();

} // namespace MainWindowLayout
