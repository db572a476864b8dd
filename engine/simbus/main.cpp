// simbus: plugs, unplugs and changes the devices of the simulated bus.

#include "BusCommand.h"
#include "SimConfig.h"

#include <climits>
#include <filesystem>
#include <iostream>

#include <unistd.h>

namespace {

// The bus of the engine of this program's station, as the engine sees it.
// The station folder is the folder above "tools/", where simbus is
// installed, or else the folder that holds simbus.
std::string defaultBus()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return sim::SimConfig(".").busDir();
    path[n] = '\0';
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.filename() == "tools")
        folder = folder.parent_path();
    return sim::SimConfig(folder.string()).busDir();
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
