// Times the version scan of a generated 2 GiB image, with both version lines
// near its end, against cat reading the same file to /dev/null, both from a
// warm page cache. With --dense the image is filled with pseudo-random bytes
// (a line feed about every 256 bytes, as in real images) instead of a hole;
// --block=<KiB> sets the scanner's block size.
#include "settings/VersionScanner.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr off_t ImageSize = off_t(2) << 30;
constexpr int Runs = 3;
const QByteArray Tail = "\nro.build.display.id=ABC_DE_V1.0\r\nro.build.sw_internal_version=ABC_INT_V2.3\n";

bool writeAll(int fd, const char* data, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, at);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
        at += n;
    }
    return true;
}

bool makeImage(const std::string& path, bool dense)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::ftruncate(fd, ImageSize) == 0;
    if (ok && dense) {
        std::string chunk(1 << 20, '\0');
        std::mt19937 random(1);
        std::generate(chunk.begin(), chunk.end(), [&] { return char(random()); });
        for (off_t at = 0; ok && at < ImageSize; at += off_t(chunk.size()))
            ok = writeAll(fd, chunk.data(), chunk.size(), at);
    }
    ok = ok && writeAll(fd, Tail.constData(), size_t(Tail.size()), ImageSize - 4096);
    return ::close(fd) == 0 && ok;
}

double seconds(const std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

template <typename Fn>
double best(Fn&& fn)
{
    double fastest = 1e9;
    for (int i = 0; i < Runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!fn())
            return -1;
        fastest = std::min(fastest, seconds(std::chrono::steady_clock::now() - start));
    }
    return fastest;
}

long maxRssKiB()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    bool dense = false;
    qsizetype blockSize = VersionScanner::DefaultBlockSize;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dense") == 0)
            dense = true;
        else if (std::strncmp(argv[i], "--block=", 8) == 0)
            blockSize = qsizetype(std::atoll(argv[i] + 8)) * 1024;
    }
    char dirTemplate[] = "/tmp/version_scan_bench_XXXXXX";
    if (!::mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    const std::string path = dir + "/system.img";
    const std::string cat = "cat '" + path + "' > /dev/null";
    int status = 1;
    if (!makeImage(path, dense)) {
        std::perror("writing the image");
    } else if (std::system(cat.c_str()) != 0) { // warms the page cache
        std::fprintf(stderr, "cat failed\n");
    } else {
        const double catTime = best([&] { return std::system(cat.c_str()) == 0; });
        const long rssBefore = maxRssKiB();
        VersionScanner::Result result;
        const VersionScanner scanner(blockSize);
        const double scanTime = best([&] {
            result = scanner.scan(QString::fromStdString(path));
            return result.outcome == VersionScanner::Outcome::Complete;
        });
        const double gib = double(ImageSize) / double(1 << 30);
        std::printf("image: %.1f GiB, %s, both lines %d bytes before the end\n", gib,
                    dense ? "pseudo-random bytes" : "sparse (zeros)", 4096);
        std::printf("found: display \"%s\" internal \"%s\"\n",
                    result.displayVersion.trimmed().constData(), result.internalVersion.constData());
        std::printf("cat > /dev/null: %.3f s  %.2f GiB/s (best of %d)\n", catTime, gib / catTime, Runs);
        std::printf("version scan:    %.3f s  %.2f GiB/s (best of %d, block %lld KiB)\n", scanTime,
                    gib / scanTime, Runs, static_cast<long long>(scanner.blockSize() / 1024));
        std::printf("scan/cat throughput ratio: %.2f\n", catTime / scanTime);
        std::printf("max RSS: %ld KiB before the scans, %ld KiB after\n", rssBefore, maxRssKiB());
        status = result.internalVersion == "ABC_INT_V2.3" && result.displayVersion == "ABC_DE_V1.0\r" ? 0 : 1;
    }
    ::unlink(path.c_str());
    ::rmdir(dir.c_str());
    return status;
}
