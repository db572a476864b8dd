#pragma once

// Result codes of the fastboot engine ("engines/libFastbootEngine.so"), as
// carried by ENGINE_EVENT_RESULT. Each failure has its own code; the line's
// last ENGINE_EVENT_MESSAGE, sent just before the result, says what went
// wrong and what to do.

#include <cstdint>

enum FastbootResult : int32_t {
    FASTBOOT_RESULT_SUCCESS = 0,
    FASTBOOT_RESULT_NO_DEVICE = 1,         // no endpoint for the port, or nothing answers there
    FASTBOOT_RESULT_DEVICE_FAILED = 2,     // the device answered FAIL; its text is in the message
    FASTBOOT_RESULT_TIMEOUT = 3,           // the device stopped answering (COMMAND_TIMEOUT_S)
    FASTBOOT_RESULT_CONNECTION_LOST = 4,   // the connection dropped, or a transfer came up short
    FASTBOOT_RESULT_BAD_PACKAGE = 5,       // package missing or unreadable, or a bad flash-plan.txt
    FASTBOOT_RESULT_READBACK_MISMATCH = 6, // after flashing the device shows another IMEI or version
    FASTBOOT_RESULT_PROTOCOL_ERROR = 7,    // garbage, oversize or out-of-order replies
    FASTBOOT_RESULT_INTERNAL_ERROR = 8,    // the engine itself failed (out of memory and the like)
};
