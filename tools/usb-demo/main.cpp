// usb-demo: the station tool on emulated USB fastboot devices or cellular
// modules, for a demo station without hardware.
//
//   usb-demo <station folder> [--modem <package>] [--quit-when-ready] [--control <fifo>]
//
// Sets up an emulated USB hub (umockdev) with the demo's devices, then runs
// the tool's window exactly as the station's executable does, with the
// station folder given here (its config.ini, language files and
// libPhoneFlashEngine.so). The partitions the devices receive land in
// <station folder>/usb-devices/. With --quit-when-ready the tool closes once
// every device's line shows it (for an automatic check), and the exit status
// says whether they did. The named pipe <station folder>/usb-demo.ctl (or the
// one --control names) takes "pull <n>", "plug <n>" and "bootloader <n>" for
// device n (socket 1-1.n).
//
// With --modem the hub holds the modem demo's five modules instead
// (DemoModules), which accept the programmer of the package folder given;
// what they are written lands in <station folder>/usb-modules/, and the pipe
// takes "pull <n>" and "plug <n>".

#include "ControlFifo.h"
#include "DemoDevices.h"
#include "DemoModules.h"
#include "ReadyWatch.h"

#include "app/ToolApp.h"
#include "lines/EngineBinding.h"
#include "platform/StationPaths.h"
#include "settings/LanguageText.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    const char* folder = nullptr;
    bool quitWhenReady = false;
    const char* control = nullptr;
    const char* modemPackage = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quit-when-ready") == 0)
            quitWhenReady = true;
        else if (std::strcmp(argv[i], "--control") == 0 && i + 1 < argc)
            control = argv[++i];
        else if (std::strcmp(argv[i], "--modem") == 0 && i + 1 < argc)
            modemPackage = argv[++i];
        else if (!folder && argv[i][0] != '-')
            folder = argv[i];
    }
    if (!folder) {
        std::fprintf(stderr, "usage: usb-demo <station folder> [--modem <package>] [--quit-when-ready] [--control <fifo>]\n");
        return 2;
    }
    std::string why;
    if (!UsbTestbed::available(&why)) {
        std::fprintf(stderr, "usb-demo: %s\n", why.c_str());
        return 1;
    }
    const QString station = QDir(QString::fromLocal8Bit(folder)).absolutePath();
    StationPaths::overrideExecutableDir(station);
    EngineBinding::SetLibraryName(station + QStringLiteral("/libPhoneFlashEngine.so"));

    // The bus and its devices first: the engine finds them plugged in when
    // it starts. The tool's close ends the process, with them still up.
    std::unique_ptr<DemoDevices> devices;
    std::unique_ptr<DemoModules> modules;
    std::vector<bool> bootRomLines;
    try {
        if (modemPackage) {
            modules = std::make_unique<DemoModules>(
                QFile::encodeName(station + QStringLiteral("/usb-modules")).toStdString(), modemPackage);
            // A blank board in download mode is present and ready as well.
            bootRomLines.assign(modules->modules().size(), false);
        } else {
            devices = std::make_unique<DemoDevices>(
                QFile::encodeName(station + QStringLiteral("/usb-devices")).toStdString());
            for (const DemoDevices::Device& d : devices->devices())
                bootRomLines.push_back(d.bootRom);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "usb-demo: %s\n", e.what());
        return 1;
    }

    // The tool's close ends the process; the pipe's thread goes with it.
    fbdevice::ControlFifo hands([&devices, &modules](const std::string& verb, int n) {
        return modules ? modules->handle(verb, n) : devices->handle(verb, n);
    });
    const std::string pipe = control ? std::string(control)
                                     : QFile::encodeName(station + QStringLiteral("/usb-demo.ctl")).toStdString();
    if (!hands.start(pipe, &why))
        std::fprintf(stderr, "usb-demo: no hands on the devices: %s\n", why.c_str());

    // From here on as the station's main(): the language before any window.
    static const LanguageText text;
    LanguageText::SetInstance(&text);
    ToolApp app(argc, argv);
    std::unique_ptr<ReadyWatch> watch;
    if (quitWhenReady) {
        watch = std::make_unique<ReadyWatch>(bootRomLines, 60000);
    }
    return app.InitInstance();
}
