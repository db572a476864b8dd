#pragma once

#include "lines/DeviceInfo.h"
#include "settings/StationConfig.h"

#include <QString>

#include <atomic>

// What every line carries. The flags are written by the window thread and,
// on a verification failure, by the line's own worker; atomics make those
// hand-overs well defined.
struct LineState
{
    std::atomic<int> enabled{0};       // a ready device has been offered
    std::atomic<int> running{0};       // a download is under way
    std::atomic<int> devicePresent{0}; // offered and not yet reported gone
    int elapsedSeconds = 0;            // window thread only
    LinePort port;                     // window thread only
    // Written by the port scan of idle lines only, under the controller's
    // device lock: other lines' workers compare IMEIs with it.
    DeviceInfo device;
    quint64 offerOrder = 0;            // when the device was offered (larger: later); same lock
    QString lastMessage;               // the engine's last message text; window thread only
};

// Line row items, changed only through LineRows::SetLineItem.
enum LineItem {
    LINE_ITEM_ELAPSED = 0,
    LINE_ITEM_INFO = 1,
    LINE_ITEM_PROGRESS = 2,
    LINE_ITEM_PERCENT = 3,
    LINE_ITEM_BUTTON = 4,
    LINE_ITEM_IMEI = 5,
    LINE_ITEM_VERSION = 6,
    LINE_ITEM_BADGE = 7,
    LINE_ITEM_PORT = 8,
    // The info label's tooltip: the engine's last message of a finished
    // line, so the reason of a failure stays in sight; empty to clear.
    LINE_ITEM_INFO_TIP = 9,
};

// The badge of a row; LINE_ITEM_BADGE carries it as its number's text.
enum BadgeValue { BADGE_OPEN = 0, BADGE_READY = 1, BADGE_RUNNING = 2, BADGE_PASS = 3, BADGE_FAIL = 4 };
// The start button of a row; LINE_ITEM_BUTTON carries it as "0" or "1".
enum ButtonState { BUTTON_DISABLED = 0, BUTTON_ENABLED = 1 };

// The texts the row calls carry for them.
inline QString BadgeText(BadgeValue badge)
{
    return QString::number(int(badge));
}

inline QString ButtonText(ButtonState state)
{
    return QString::number(int(state));
}
