#pragma once

// Result codes of the modem engine ("engines/libModemEngine.so"), as carried
// by ENGINE_EVENT_RESULT: one per Download. Each failure has its own code;
// the line's last ENGINE_EVENT_MESSAGE, sent just before the result, says
// what went wrong and what to do.

#include <cstdint>

enum ModemResult : int32_t {
    MODEM_RESULT_SUCCESS = 0,
    MODEM_RESULT_NO_MODULE = 1,          // no socket for the port, or nothing in it
    MODEM_RESULT_AT_SILENT = 2,          // the module's AT port does not answer (or is not found)
    MODEM_RESULT_NO_DOWNLOAD_MODE = 3,   // after EDL_SWITCH the module did not come back in download mode
    MODEM_RESULT_PROGRAMMER_REFUSED = 4, // the boot ROM refused the programmer (secure-boot keys?)
    MODEM_RESULT_FIREHOSE_NAK = 5,       // the programmer refused a command; its log lines are in the message
    MODEM_RESULT_TIMEOUT = 6,            // the module stopped answering in download mode
    MODEM_RESULT_CONNECTION_LOST = 7,    // the module left the bus, or a transfer failed
    MODEM_RESULT_BAD_PACKAGE = 8,        // a file or XML line of the package is wrong (named in the message)
    MODEM_RESULT_READBACK_MISMATCH = 9,  // after the reset the module shows another IMEI or display version
    MODEM_RESULT_BAD_SETTINGS = 10,      // a key of [MODEM_Engine] cannot be used (EDL_SWITCH missing, ...)
    MODEM_RESULT_PROTOCOL_ERROR = 11,    // the module said something that makes no sense
    MODEM_RESULT_NOT_BACK = 12,          // after the reset the module did not come back in normal mode
    MODEM_RESULT_INTERNAL_ERROR = 13,    // the engine itself failed (out of memory and the like)
};
