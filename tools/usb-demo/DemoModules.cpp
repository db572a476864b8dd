#include "DemoModules.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

DemoModules::Module module(const std::string& socket, const std::string& revision, const std::string& imei)
{
    DemoModules::Module m;
    m.socket = socket;
    m.settings.revision = revision;
    m.settings.imei = imei;
    m.settings.switchCommand = DemoModules::kSwitchCommand;
    // As long as a real module takes to leave the bus and come back.
    m.settings.rebootMillis = 1500;
    return m;
}

// The package's programmer: its one prog_* file.
std::string programmerOf(const std::string& packageDir)
{
    std::string name;
    if (DIR* dir = ::opendir(packageDir.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (std::string(e->d_name).rfind("prog_", 0) == 0)
                name = e->d_name;
        }
        ::closedir(dir);
    }
    std::ifstream in(packageDir + "/" + name, std::ios::binary);
    if (name.empty() || !in)
        throw std::runtime_error("no programmer (prog_*) in " + packageDir);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::vector<DemoModules::Module> DemoModules::plan(const std::string& folder, const std::string& programmer)
{
    std::vector<Module> modules = {
        module("1-1.1", "ABC_DE_V1.0", "356938035643809"),
        module("1-1.2", "ABC_DE_V1.1", "356938035643817"),
        module("1-1.3", "XYZ_V3.0", "356938035643825"),
        module("1-1.4", "", ""),
        module("1-1.5", "ABC_DE_V1.2", "356938035643841"),
    };
    modules[1].settings.echo = true; // one answers as ATE1 and with +CGSN: "..."
    modules[1].settings.quoted = true;
    modules[3].settings.startInDownload = true;
    for (size_t i = 0; i < modules.size(); ++i) {
        modules[i].settings.programmer = programmer;
        modules[i].settings.storageDir = folder + "/module-" + std::to_string(i + 1);
    }
    // Signed for another chip: the boot ROM refuses the package's programmer.
    modules[4].settings.programmer = "a programmer signed with another chip's keys";
    return modules;
}

DemoModules::DemoModules(const std::string& folder, const std::string& packageDir)
    : m_modules(plan(folder, programmerOf(packageDir)))
    , m_bed(std::make_unique<UsbTestbed>())
{
    for (const Module& m : m_modules) {
        std::error_code ec;
        std::filesystem::create_directories(m.settings.storageDir, ec);
        auto& model = *m_models.emplace_back(std::make_unique<modemdevice::ModuleModel>(m.settings));
        m_bed->plugModule(m.socket, model);
    }
}

std::string DemoModules::handle(const std::string& verb, int n)
{
    if (n < 1 || size_t(n) > m_modules.size())
        return "no module " + std::to_string(n);
    const std::string& socket = m_modules[size_t(n - 1)].socket;
    if (verb == "pull")
        m_bed->pull(socket);
    else if (verb == "plug")
        m_bed->putBack(socket);
    else
        return "module " + std::to_string(n) + ": only pull and plug";
    return "module " + std::to_string(n) + " (socket " + socket + "): " + verb;
}

DemoModules::~DemoModules()
{
    m_bed.reset(); // the bus before the models it drives
}
