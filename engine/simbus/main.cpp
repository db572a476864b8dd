// simbus: plugs, unplugs and changes the devices of the simulated bus.

#include "BusCommand.h"
#include "SimConfig.h"

#include <climits>
#include <filesystem>
#include <iostream>

#include <unistd.h>

namespace {

// The bus beside this program, as the engine beside it sees it.
std::string defaultBus()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return sim::SimConfig(".").busDir();
    path[n] = '\0';
    return sim::SimConfig(std::filesystem::path(path).parent_path().string()).busDir();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return sim::BusCommand::run(args, defaultBus(), std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "simbus: " << e.what() << "\n";
        return 1;
    }
}
