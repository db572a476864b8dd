#pragma once

#include <map>
#include <string>
#include <string_view>

namespace engine {

// The highest port number a PORT.<n> key may carry.
constexpr int kMaxPortKey = 255;

// "PORT.<n>".
std::string portKey(int port);

// The PORT.<n> keys (n from 1 to kMaxPortKey) of one section of an INI text
// that have a value: port number -> value.
std::map<int, std::string> portKeys(std::string_view iniText, std::string_view section);

} // namespace engine
