// Compiled only by the layering tests, which expect it not to compile: it
// includes PROBE_HEADER, a header of a layer its library must not see.
#include PROBE_HEADER
