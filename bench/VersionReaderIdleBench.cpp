// Measures what an idle version-file reader costs: the CPU time the process
// uses while the reader has found its versions (and while its directory has
// no version file at all) and nothing else happens. A reader that sleeps uses
// next to nothing; one that spins uses most of a core.
#include "settings/VersionFileReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <thread>

#include <ctime>

using namespace std::chrono_literals;

namespace {

constexpr auto Window = 2s;

double processCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void measure(VersionFileReader& reader, const QString& dir, const char* what)
{
    reader.chooseDirectory(dir);
    reader.waitForInternalVersion(500ms);
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(Window);
    const double used = processCpuSeconds() - before;
    const double seconds = std::chrono::duration<double>(Window).count();
    std::printf("%-28s %8.4f s CPU in %.1f s (%5.2f %% of a core)\n", what, used, seconds,
                100.0 * used / seconds);
}

} // namespace

int main()
{
    QTemporaryDir known, missing;
    QFile image(known.filePath(QStringLiteral("system.img")));
    if (!image.open(QIODevice::WriteOnly)
        || image.write("head\nro.build.display.id=IDLE_V1\nro.build.sw_internal_version=IDLE_INT_V1\n") < 0)
        return 1;
    image.close();

    VersionFileReader::Timing timing;
    timing.lookAgain = 50ms;
    VersionFileReader reader(timing);
    reader.setDirectory(known.path());
    reader.start();
    measure(reader, known.path(), "idle, versions found:");
    measure(reader, missing.path(), "idle, no version file:");
    reader.stop();
    return 0;
}
