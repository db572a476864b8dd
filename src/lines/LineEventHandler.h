#pragma once

#include <cstdint>

// What the engine's event sink delivers to the line controller, always on the
// window thread. The pointers are the engine's and valid only during the call.
class LineEventHandler
{
public:
    virtual ~LineEventHandler() = default;
    virtual void OnLineDevice(const int32_t* offer, int line) = 0;
    virtual void OnLineProgress(int32_t percent, int line) = 0;
    virtual void OnLineResult(const int32_t* code, int line) = 0;
    virtual void OnLineMessage(const char* text, int line) = 0;
};
