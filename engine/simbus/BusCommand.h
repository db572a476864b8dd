#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace sim {

// The commands of the simbus tool, which plugs, unplugs and changes the
// simulated devices that the stand-in engine reads.
class BusCommand final
{
public:
    // args without the program name. Returns the exit status: 0 done,
    // 1 the command failed, 2 the command line is wrong.
    static int run(const std::vector<std::string>& args, const std::string& defaultBusDir,
                   std::ostream& out, std::ostream& err);

    static const char* usage();
};

} // namespace sim
