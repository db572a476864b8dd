#pragma once

// Public boundary between the station tool and a download engine library
// ("libPhoneFlashEngine.so"). Engines compile against this header alone.
//
// Both classes are reached by the position of their virtual functions
// (Itanium C++ ABI, g++ and clang on x86-64): declaration order is the slot
// order and must never change. All integers are 32 bits.

#include <cstdint>

enum EngineEventType : int32_t {
    ENGINE_EVENT_PROGRESS = 0, // data: int32_t percentage 0..100
    ENGINE_EVENT_DEVICE = 1,   // data: int32_t, nonzero = offer ready devices
    ENGINE_EVENT_MESSAGE = 2,  // data: zero-terminated text for the line
    ENGINE_EVENT_RESULT = 4,   // data: int32_t result code, 0 = success
};

struct EngineEvent {
    int32_t type;
    int32_t line; // 0..7
    void* data;   // valid only for the duration of OnEvent
};

// Text filled by QueryDevice: the tool zero-fills it, the engine writes a
// zero-terminated text of at most 1023 bytes.
struct EngineText {
    char text[1024];
};

// The callback object the tool hands to the engine: 20 slots. Only OnEvent
// does work; the others give fixed answers and keep their places because
// engines call them by position.
class EngineEventSink {
public:
    virtual int32_t Reserved0() = 0;                                        // 0
    virtual void Reserved1() = 0;                                           // 1
    virtual EngineEventSink* Reserved2(int32_t, int32_t) = 0;               // 2
    virtual void Reserved3(int32_t, int32_t, int32_t) = 0;                  // 3
    virtual void Reserved4(int32_t, int32_t) = 0;                           // 4
    virtual int32_t Reserved5(int32_t, int32_t, int32_t, int32_t) = 0;      // 5
    virtual int32_t Reserved6(int32_t, int32_t) = 0;                        // 6
    virtual int32_t Reserved7(int32_t, int32_t, int32_t, int32_t) = 0;      // 7
    virtual int32_t Reserved8(int32_t, int32_t) = 0;                        // 8
    virtual int32_t Reserved9(int32_t, int32_t) = 0;                        // 9
    virtual int32_t Reserved10(int32_t, int32_t) = 0;                       // 10
    virtual int32_t Reserved11(int32_t, int32_t, int32_t) = 0;              // 11
    virtual int32_t Reserved12(int32_t) = 0;                                // 12
    virtual int32_t Reserved13(int32_t, int32_t, int32_t) = 0;              // 13
    virtual int32_t Reserved14(int32_t) = 0;                                // 14
    virtual void Reserved15(int32_t) = 0;                                   // 15
    virtual void Reserved16(int32_t, int32_t) = 0;                          // 16
    virtual void Reserved17(int32_t) = 0;                                   // 17
    virtual void OnEvent(EngineEvent* event) = 0;                           // 18
    virtual ~EngineEventSink() = default;                                   // 19 (two entries)
};

// The engine object returned by Create().
class FlashEngine {
public:
    virtual int32_t Reserved0() = 0;                                        // 0
    virtual int32_t Reserved1() = 0;                                        // 1
    virtual int32_t RegisterSink(EngineEventSink* sink) = 0;                // 2
    virtual int32_t Setup(int32_t mode) = 0;                                // 3, mode is 6
    virtual int32_t Reserved4() = 0;                                        // 4
    virtual int32_t Reserved5() = 0;                                        // 5
    virtual int32_t Reserved6() = 0;                                        // 6
    // 0: ready device, info = "display,internal,IMEI"; -1: no device;
    // anything else: device in ARM mode.
    virtual int32_t QueryDevice(int32_t line, int32_t port, EngineText* info) = 0; // 7
    // ports: 256 zero-filled entries; count: 256 on entry, entries filled on return.
    virtual int32_t EnumeratePorts(int32_t* ports, int32_t* count) = 0;    // 8
    // Writes the version directory of config.ini to the device; reports
    // progress, messages and one result through the sink, on the calling thread.
    virtual int32_t Download(int32_t line, int32_t port) = 0;               // 9
    // Takes the settings of section "GET_DLL_Setting" from config.ini again.
    virtual int32_t ReloadSettings() = 0;                                   // 10

protected:
    // Not virtual: no slot after 10. Engines release their object in Destroy().
    ~FlashEngine() = default;
};

extern "C" {
// Factory every engine exports.
FlashEngine* Create(void);
// Optional: releases an engine made by Create. Without it the tool frees the
// object's memory itself, which assumes one shared memory manager.
void Destroy(FlashEngine* engine);
}
