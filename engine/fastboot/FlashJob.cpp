#include "FlashJob.h"

#include "Endpoint.h"
#include "ImagePieces.h"
#include "core/InputFile.h"
#include "core/VersionScan.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fastboot {

namespace {

// "0x10000000" or "268435456"; 0 when it is no number.
uint64_t parseSize(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return 0;
    return value;
}

// The image file's descriptor, closed on every way out.
struct ImageFd
{
    int fd;
    ~ImageFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

FlashJob::FlashJob(FastbootSettings settings, int port, Events events, usb::UsbBus* usb,
                   HostResolver& resolver)
    : m_settings(std::move(settings)), m_port(port), m_events(std::move(events)), m_usb(usb)
    , m_resolver(resolver)
{
}

FastbootResult FlashJob::run()
{
    m_endpointText = m_settings.endpointOf(m_port);
    if (m_endpointText.empty()) {
        return fail(FASTBOOT_RESULT_NO_DEVICE, "Port " + std::to_string(m_port)
                                                   + " has no device: set PORT." + std::to_string(m_port)
                                                   + " in [FASTBOOT_Engine] of config.ini.");
    }
    FlashPlan plan;
    std::string why;
    if (!FlashPlan::load(m_settings.versionDir, &plan, &why))
        return fail(FASTBOOT_RESULT_BAD_PACKAGE, why);
    std::string packageDisplay;
    if (m_settings.readback) {
        const auto path = (std::filesystem::path(m_settings.versionDir) / "system.img").string();
        const VersionScan::Result versions = VersionScan().scan(path);
        if (versions.outcome != VersionScan::Outcome::Complete || !versions.displayFound) {
            return fail(FASTBOOT_RESULT_BAD_PACKAGE,
                        "No display version in " + path + " to check the device against. Check the software version.");
        }
        packageDisplay = versions.displayVersion;
    }

    reportProgress(0, true);
    if (!connect(std::chrono::seconds(m_settings.commandTimeoutS), &why)) {
        return fail(FASTBOOT_RESULT_NO_DEVICE, "No device answers on port " + std::to_string(m_port) + " ("
                                                   + m_endpointText + ": " + why
                                                   + "). Plug the device in and start the line again.");
    }
    DeviceIdentity before;
    if (m_settings.readback && !DeviceIdentity::read(*m_client, m_settings, &before))
        return clientFailed();
    uint64_t maxDownload = 0;
    if (!readMaxDownload(&maxDownload))
        return clientFailed();

    m_total = plan.totalBytes;
    m_rate.record(0, Clock::now());
    m_lastSpeed = Clock::now();
    for (const FlashPlan::Entry& entry : plan.entries) {
        if (const FastbootResult code = flashEntry(entry, maxDownload); code != FASTBOOT_RESULT_SUCCESS)
            return code;
    }
    if (m_settings.readback) {
        if (const FastbootResult code = readBack(before, packageDisplay); code != FASTBOOT_RESULT_SUCCESS)
            return code;
    }
    if (m_settings.reboot && !reboot("reboot"))
        return clientFailed();
    m_client.reset();
    m_link.reset();
    reportProgress(100, true);
    m_events.message("Download complete");
    return FASTBOOT_RESULT_SUCCESS;
}

bool FlashJob::connect(std::chrono::seconds within, std::string* why)
{
    Endpoint endpoint;
    if (!Endpoint::parse(m_endpointText, &endpoint, why))
        return false;
    m_client.reset();
    m_link = endpoint.open(m_usb, m_resolver, Clock::now() + within, why);
    if (!m_link)
        return false;
    m_client = std::make_unique<FastbootClient>(*m_link, std::chrono::seconds(m_settings.commandTimeoutS),
                                                [this](const std::string& line) { m_events.message(line); });
    return true;
}

bool FlashJob::readMaxDownload(uint64_t* size)
{
    std::string answer;
    if (!m_client->command("getvar:max-download-size", &answer)) {
        if (m_client->failure().code != FASTBOOT_RESULT_DEVICE_FAILED)
            return false;
        answer.clear();
    }
    *size = parseSize(answer);
    if (*size == 0)
        *size = kDefaultMaxDownload;
    *size = std::min<uint64_t>(*size, 0xffffffffULL); // a download's size is 32 bits
    return true;
}

FastbootResult FlashJob::flashEntry(const FlashPlan::Entry& entry, uint64_t maxDownload)
{
    m_writing = entry.file;
    m_events.message("Writing " + entry.file);
    // The plan resolved every link; a file swapped for a link or a FIFO
    // since then is not opened (and a FIFO does not block the open).
    const ImageFd image{::open(entry.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
    const int fd = image.fd;
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return fail(FASTBOOT_RESULT_BAD_PACKAGE, "Cannot read " + entry.path + ". Check the software version.");
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const engine::Sparse::ReadAt readAt = [fd](uint64_t offset, void* out, size_t size) {
        return InputFile::readAt(fd, offset, out, size);
    };
    std::vector<ImagePieces::Piece> pieces;
    std::string why;
    if (!ImagePieces::plan(readAt, entry.size, maxDownload, &pieces, &why))
        return fail(FASTBOOT_RESULT_BAD_PACKAGE, entry.file + ": " + why + ". Check the software version.");
    // Progress counts image bytes; pieces carry a few header bytes more.
    uint64_t pieceBytes = 0;
    for (const auto& piece : pieces)
        pieceBytes += piece.size;
    const uint64_t startSent = m_sent;
    uint64_t pieceSent = 0;
    for (const ImagePieces::Piece& piece : pieces) {
        // Image data is described, not read: the transport sends it from
        // the file (or reads it into its one buffer).
        PieceReader reader(piece, readAt);
        const bool ok = m_client->download(
            uint32_t(piece.size),
            [&](size_t size, std::vector<Chunk>* chunks, std::string* error) {
                return reader.chunks(size, fd, chunks, error);
            },
            [&](uint64_t bytes) {
                pieceSent += bytes;
                sent(startSent + imageShare(pieceSent, pieceBytes, entry.size) - m_sent);
            });
        if (!ok && m_client->failure().code == FASTBOOT_RESULT_BAD_PACKAGE) {
            return fail(FASTBOOT_RESULT_BAD_PACKAGE,
                        "Cannot read " + entry.path + " (" + m_client->failure().text + "). Check the software version.");
        }
        if (!ok || !m_client->command("flash:" + entry.partition))
            return clientFailed();
    }
    sent(startSent + entry.size - m_sent);
    return FASTBOOT_RESULT_SUCCESS;
}

FastbootResult FlashJob::readBack(const DeviceIdentity& before, const std::string& packageDisplay)
{
    if (!reboot("reboot-bootloader"))
        return clientFailed();
    m_events.message("Waiting for the device to come back");
    const auto deadline = Clock::now() + std::chrono::seconds(m_settings.arrivalTimeoutS);
    // Whatever answers before the device went away is the old bootloader.
    if (!waitGone(deadline)) {
        return fail(FASTBOOT_RESULT_NO_DEVICE, "The device on port " + std::to_string(m_port)
                                                   + " did not restart within "
                                                   + std::to_string(m_settings.arrivalTimeoutS)
                                                   + " s of reboot-bootloader. Check it and start the line again.");
    }
    m_client.reset();
    m_link.reset();
    std::string why;
    for (;;) {
        if (connect(std::chrono::seconds(1), &why))
            break;
        if (Clock::now() >= deadline) {
            return fail(FASTBOOT_RESULT_NO_DEVICE, "The device did not come back on port " + std::to_string(m_port)
                                                       + " within " + std::to_string(m_settings.arrivalTimeoutS)
                                                       + " s after rebooting. Check it and start the line again.");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    DeviceIdentity after;
    if (!DeviceIdentity::read(*m_client, m_settings, &after))
        return clientFailed();
    if (after.imei != before.imei) {
        return fail(FASTBOOT_RESULT_READBACK_MISMATCH, "Read-back mismatch: IMEI expected " + before.imei
                                                           + ", found " + after.imei + ". Set the device aside.");
    }
    if (after.display != packageDisplay) {
        return fail(FASTBOOT_RESULT_READBACK_MISMATCH, "Read-back mismatch: display version expected "
                                                           + packageDisplay + ", found " + after.display
                                                           + ". Download the device again.");
    }
    return FASTBOOT_RESULT_SUCCESS;
}

bool FlashJob::reboot(const std::string& command)
{
    if (!m_client->command(command))
        return false;
    m_link->rebooting();
    if (m_events.rebooting)
        m_events.rebooting();
    return true;
}

bool FlashJob::waitGone(Clock::time_point deadline)
{
    if (!m_endpointText.starts_with("tcp:"))
        return true; // USB: the transport waits for the next enumeration
    char packet[256];
    for (;;) {
        size_t size = 0;
        const IoStatus status = m_link->receive(packet, sizeof packet, &size, deadline);
        if (status == IoStatus::Timeout)
            return false;
        if (status != IoStatus::Ok)
            break; // the device closed the connection
    }
    m_client.reset();
    m_link.reset();
    Endpoint endpoint;
    std::string why;
    if (!Endpoint::parse(m_endpointText, &endpoint, &why))
        return false;
    // Gone once its endpoint does not answer the handshake.
    while (Clock::now() < deadline) {
        if (!endpoint.open(m_usb, m_resolver, std::min(deadline, Clock::now() + std::chrono::seconds(1)), &why))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

uint64_t FlashJob::imageShare(uint64_t pieceSent, uint64_t pieceBytes, uint64_t imageSize)
{
    if (pieceBytes == 0)
        return 0;
    // pieceSent * imageSize overflows 64 bits once both pass 4 GiB.
    return uint64_t(static_cast<unsigned __int128>(pieceSent) * imageSize / pieceBytes);
}

void FlashJob::sent(uint64_t bytes)
{
    m_sent += bytes;
    if (m_total > 0)
        reportProgress(int32_t(std::min<uint64_t>(m_sent * 100 / m_total, 99)), false);
    reportSpeed();
}

void FlashJob::reportSpeed()
{
    const auto now = Clock::now();
    m_rate.record(m_sent, now);
    if (now - m_lastSpeed < kSpeedInterval)
        return;
    const std::optional<double> rate = m_rate.bytesPerSecond(now);
    if (!rate)
        return;
    m_lastSpeed = now;
    m_events.message("Writing " + m_writing + ": " + engine::TransferRate::describe(*rate, m_total - std::min(m_sent, m_total)));
}

void FlashJob::reportProgress(int32_t percent, bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (percent == m_lastPercent || (!force && now - m_lastReport < kProgressInterval))
        return;
    m_lastPercent = percent;
    m_lastReport = now;
    m_events.progress(percent);
}

FastbootResult FlashJob::fail(FastbootResult code, const std::string& text)
{
    m_client.reset();
    m_link.reset();
    m_events.message(text);
    return code;
}

FastbootResult FlashJob::clientFailed()
{
    const Failure failure = m_client->failure();
    return fail(failure.code == FASTBOOT_RESULT_SUCCESS ? FASTBOOT_RESULT_PROTOCOL_ERROR : failure.code,
                failure.text);
}

} // namespace fastboot
