#pragma once

#include <string>

namespace engine {

// The whole file as bytes; empty when it cannot be read (a missing
// config.ini reads as one without keys).
std::string fileText(const std::string& path);

} // namespace engine
