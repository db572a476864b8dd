#pragma once

#include <cstdint>

// What the probe engine library saw and got back, read by the test through
// the library's export "ProbeResults". Plain data: shared by a library built
// from the public engine header alone and the test.
struct ProbeReport {
    int32_t calls[32];      // engine slots called, in order
    int32_t callCount;
    int32_t setupMode;
    int32_t intAnswers[20]; // answers of the sink's slots 0 and 5..14
    const void* slot2Answer;
    const void* sink;       // as passed to RegisterSink
    int32_t destroyed;      // calls of Destroy
};

using ProbeResultsFn = ProbeReport* (*)();
