#include "app/MainWindowLayout.h"

namespace MainWindowLayout {

const std::array<LineIds, kLines> kLineIds = {{
    {1085, 1086, 1007, 1008, 1003, 1009, 1021, 1022, 1076},
    {1020, 1087, 1010, 1013, 1004, 1014, 1028, 1029, 1077},
    {1033, 1088, 1030, 1031, 1018, 1032, 1034, 1035, 1078},
    {1041, 1089, 1038, 1039, 1037, 1040, 1042, 1043, 1080},
    {1049, 1090, 1046, 1047, 1045, 1048, 1050, 1051, 1079},
    {1057, 1091, 1054, 1055, 1053, 1056, 1058, 1059, 1081},
    {1065, 1092, 1062, 1063, 1061, 1064, 1066, 1067, 1082},
    {1073, 1093, 1070, 1071, 1069, 1072, 1074, 1075, 1083},
}};

namespace {
// Top and bottom line of each visible row.
constexpr std::array<int, kVisibleLines> kTop = {3, 29, 56, 84, 110};
constexpr std::array<int, kVisibleLines> kBottom = {16, 42, 70, 97, 123};
} // namespace

std::vector<ControlSpec> lineRow(int line)
{
    using K = ControlSpec::Kind;
    const LineIds& ids = kLineIds[size_t(line)];
    const bool hidden = line >= kVisibleLines;
    // The hidden rows all lie at one spot: that of the last visible row.
    const int t = kTop[size_t(hidden ? kVisibleLines - 1 : line)];
    const int b = kBottom[size_t(hidden ? kVisibleLines - 1 : line)];
    return {
        {K::Label, 0, QStringLiteral("%1.").arg(line + 1), 5, t, 9, 13, hidden},
        {K::FlatButton, ids.button, QStringLiteral("升级"), 16, t, 32, 13, hidden},
        {K::Label, ids.port, QStringLiteral("NULL"), 51, t, 36, 13, hidden},
        {K::Label, ids.elapsed, QStringLiteral("0:00"), 90, t, 29, 13, hidden},
        {K::Label, ids.info, QStringLiteral("info"), 123, t, 171, 13, hidden},
        {K::Picture, ids.badge, QString(), 299, t, 29, 10, hidden},
        {K::Progress, ids.progress, QString(), 16, b, 68, 12, hidden},
        {K::Label, ids.percent, QStringLiteral("0/100"), 90, b, 29, 12, hidden},
        {K::Label, ids.imei, QStringLiteral("NULL"), 123, b, 66, 12, hidden},
        {K::Label, ids.version, QStringLiteral("NULL"), 191, b, 103, 12, hidden},
    };
}

std::vector<ControlSpec> otherControls()
{
    using K = ControlSpec::Kind;
    return {
        {K::Group, 0, QString(), 3, 163, 324, 43},
        {K::FlatButton, IdVersionButton, QStringLiteral("选择版本"), 16, 144, 40, 15},
        {K::Edit, IdVersionField, QString(), 59, 146, 219, 12},
        {K::DefaultButton, IdStartAll, QStringLiteral("全部开始"), 283, 139, 41, 23},
        {K::FlatButton, IdClear, QStringLiteral("清零"), 283, 170, 40, 15},
        {K::Label, IdSuccessCaption, QStringLiteral("成功次数   :"), 7, 172, 62, 8},
        {K::Label, IdSuccessCounts, QStringLiteral("0/0"), 75, 172, 35, 8},
        {K::Label, IdTotalCaption, QStringLiteral("累计总次数 :"), 165, 172, 60, 8},
        {K::Label, IdTotalCounts, QStringLiteral("0/0"), 233, 173, 35, 8},
        {K::Label, IdClockCaption, QStringLiteral("当前时间   :"), 7, 190, 62, 8},
        {K::Label, IdClock, QStringLiteral("00/00/0000  00:00"), 75, 190, 82, 8},
        {K::Label, IdClearTimeCaption, QStringLiteral("上次清零时间:"), 165, 191, 61, 8},
        {K::Label, IdClearTime, QStringLiteral("00/00/0000  00:00"), 233, 191, 82, 8},
        {K::Button, IdHiddenStart, QStringLiteral("升级"), 16, 3, 32, 13, true},
    };
}

} // namespace MainWindowLayout
