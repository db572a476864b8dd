#pragma once

#include "ModuleSettings.h"

#include <functional>
#include <string>

namespace modemdevice {

// The AT tty of a module in normal mode: command lines in, replies out.
class AtResponder final
{
public:
    using Send = std::function<bool(const std::string& bytes)>;
    enum class Next { Continue, SwitchToDownload };

    static constexpr size_t kMaxLine = 1024;

    Next receive(const ModuleSettings& settings, const std::string& revision, const char* data, size_t size,
                 const Send& send);

private:
    Next line(const ModuleSettings& settings, const std::string& revision, const std::string& command,
              const Send& send);

    std::string m_line;
};

} // namespace modemdevice
