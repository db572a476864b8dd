#pragma once

#include "ModuleModel.h"
#include "UsbTestbed.h"

#include <memory>
#include <string>
#include <vector>

// The modem demo's modules: an emulated hub with a cellular module in each of
// its first five sockets. Two are to pass (revision ABC_DE_V1.x), one is of
// another product line, the one in socket 1-1.4 is a blank board in download
// mode (no IMEI, no revision), and the one in 1-1.5 refuses the package's
// programmer (another chip's keys). The storage each module is written to
// lands in <folder>/module-<n>/.
class DemoModules final
{
public:
    struct Module
    {
        std::string socket;
        modemdevice::ModuleSettings settings;
    };

    // The AT command that switches the demo's modules to download mode.
    static constexpr const char* kSwitchCommand = "AT+DLMODE";

    // The modules, socket after socket; all but the last accept programmer.
    static std::vector<Module> plan(const std::string& folder, const std::string& programmer);

    // Sets the testbed up and plugs every module in; the programmer the
    // modules accept is the package's prog_* file. Throws when umockdev
    // cannot or the package has no programmer.
    DemoModules(const std::string& folder, const std::string& packageDir);
    ~DemoModules();
    DemoModules(const DemoModules&) = delete;
    DemoModules& operator=(const DemoModules&) = delete;

    const std::vector<Module>& modules() const { return m_modules; }
    // The operator's hands on module n (1..5): "pull" or "plug" (put back in
    // the mode it is in).
    std::string handle(const std::string& verb, int n);

private:
    std::vector<Module> m_modules;
    std::vector<std::unique_ptr<modemdevice::ModuleModel>> m_models; // outlive the bus's devices
    std::unique_ptr<UsbTestbed> m_bed;
};
