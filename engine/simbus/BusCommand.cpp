#include "BusCommand.h"

#include "DeviceFile.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>

namespace sim {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

struct CommandLine {
    std::string bus;
    std::vector<std::string> words;              // command and port
    std::map<std::string, std::string> options;  // "--imei" -> value
    bool arm = false;
};

template <typename T>
bool parseNumber(const std::string& text, T min, T max, T* value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size() && *value >= min && *value <= max;
}

bool split(const std::vector<std::string>& args, CommandLine* cl, std::ostream& err)
{
    static const char* const valued[] = {"--bus", "--imei", "--display", "--internal",
                                         "--speed", "--fail-at", "--result-code"};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--arm") {
            cl->arm = true;
            continue;
        }
        if (!a.starts_with("--")) {
            cl->words.push_back(a);
            continue;
        }
        if (std::find(std::begin(valued), std::end(valued), a) == std::end(valued) || i + 1 == args.size()) {
            err << "simbus: unknown option or missing value: " << a << "\n";
            return false;
        }
        const std::string& v = args[++i];
        if (v.find_first_of("\r\n") != std::string::npos) {
            err << "simbus: " << a << " must not hold a line break\n";
            return false;
        }
        if (a == "--bus")
            cl->bus = v;
        else
            cl->options[a] = v;
    }
    return true;
}

bool buildState(const CommandLine& cl, DeviceFile::State* s, std::ostream& err)
{
    s->arm = cl.arm;
    const auto text = [&](const char* name) {
        const auto it = cl.options.find(name);
        return it == cl.options.end() ? std::string() : it->second;
    };
    s->imei = text("--imei");
    s->display = text("--display");
    s->internal = text("--internal");
    if (cl.options.count("--speed") && !parseNumber<int64_t>(text("--speed"), 1, INT64_MAX, &s->speed)) {
        err << "simbus: --speed takes a positive number of bytes per second\n";
        return false;
    }
    if (cl.options.count("--fail-at") && !parseNumber(text("--fail-at"), 0, 100, &s->failAt)) {
        err << "simbus: --fail-at takes a percentage 0 to 100\n";
        return false;
    }
    if (cl.options.count("--result-code")
        && !parseNumber(text("--result-code"), INT32_MIN, INT32_MAX, &s->resultCode)) {
        err << "simbus: --result-code takes a 32-bit number\n";
        return false;
    }
    return true;
}

int plug(const DeviceFile& device, const CommandLine& cl, std::ostream& err)
{
    DeviceFile::State state;
    if (!buildState(cl, &state, err))
        return kUsage;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(device.path()).parent_path(), ec);
    std::string why;
    if (!device.write(state, &why)) {
        err << "simbus: " << why << "\n";
        return kFailed;
    }
    return kDone;
}

int setMode(const DeviceFile& device, bool arm, std::ostream& err)
{
    auto state = device.read();
    if (!state) {
        err << "simbus: no device at " << device.path() << "\n";
        return kFailed;
    }
    state->arm = arm;
    std::string why;
    if (!device.write(*state, &why)) {
        err << "simbus: " << why << "\n";
        return kFailed;
    }
    return kDone;
}

int unplug(const DeviceFile& device, std::ostream& err)
{
    if (!device.exists()) {
        err << "simbus: no device at " << device.path() << "\n";
        return kFailed;
    }
    std::string why;
    if (!device.remove(&why)) {
        err << "simbus: " << why << "\n";
        return kFailed;
    }
    return kDone;
}

int list(const std::string& bus, std::ostream& out)
{
    for (const int port : DeviceFile::ports(bus)) {
        const auto s = DeviceFile(bus, port).read();
        if (!s)
            continue; // unplugged meanwhile
        out << port << '\t' << (s->arm ? "ARM" : "READY") << '\t' << s->display << '\t'
            << s->internal << '\t' << s->imei << '\n';
    }
    return kDone;
}

} // namespace

int BusCommand::run(const std::vector<std::string>& args, const std::string& defaultBusDir,
                    std::ostream& out, std::ostream& err)
{
    CommandLine cl;
    if (!split(args, &cl, err) || cl.words.empty()) {
        err << usage();
        return kUsage;
    }
    const std::string bus = cl.bus.empty() ? defaultBusDir : cl.bus;
    const std::string& command = cl.words[0];
    if (command == "list" && cl.words.size() == 1 && cl.options.empty() && !cl.arm)
        return list(bus, out);

    int port = 0;
    const bool known = command == "plug" || command == "unplug" || command == "arm" || command == "ready";
    if (!known || cl.words.size() != 2 || !parseNumber(cl.words[1], 1, INT32_MAX, &port)
        || (command != "plug" && (!cl.options.empty() || cl.arm))) {
        err << usage();
        return kUsage;
    }
    const DeviceFile device(bus, port);
    if (command == "plug")
        return plug(device, cl, err);
    if (command == "unplug")
        return unplug(device, err);
    return setMode(device, command == "arm", err);
}

const char* BusCommand::usage()
{
    return "usage: simbus [--bus DIR] COMMAND\n"
           "  plug PORT [--imei IMEI] [--display VERSION] [--internal VERSION]\n"
           "            [--speed BYTES_PER_SECOND] [--fail-at PERCENT] [--result-code CODE] [--arm]\n"
           "  unplug PORT\n"
           "  arm PORT\n"
           "  ready PORT\n"
           "  list\n"
           "The bus is the one the stand-in engine of this station uses: BUS_DIR of section\n"
           "SIM_Engine in the station's config.ini, or else \"simbus/\" in the station folder.\n"
           "The station folder is the folder above tools/ when simbus lies in tools/,\n"
           "otherwise the folder that holds simbus.\n";
}

} // namespace sim
