#pragma once

#include "DeviceIdentity.h"
#include "FastbootClient.h"
#include "FastbootResults.h"
#include "FastbootSettings.h"
#include "FlashPlan.h"
#include "TransferRate.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace usb {
class UsbBus;
}

namespace fastboot {

class HostResolver;

class Transport;

// One download onto one device: the flash plan of the version directory,
// each image as one download or as sparse pieces, optional read-back, and
// the reboot. Progress (by bytes sent) and texts go through the callbacks on
// the calling thread; the failure text is the last message before run()
// returns its result code.
class FlashJob final
{
public:
    struct Events
    {
        std::function<void(int32_t percent)> progress;
        std::function<void(const std::string& text)> message;
        // The device accepted a reboot command and leaves now.
        std::function<void()> rebooting;
    };

    // Used when the device does not say how much it takes.
    static constexpr uint64_t kDefaultMaxDownload = 256ULL * 1024 * 1024;
    // Progress events at most this often.
    static constexpr std::chrono::milliseconds kProgressInterval{200};
    // "Writing system.img: 38.2 MB/s, 1:12 left" at most this often.
    static constexpr std::chrono::milliseconds kSpeedInterval{500};

    // usb: the engine's bus, for "usb:" endpoints (null without USB);
    // resolver: the engine's name lookup, for "tcp:" endpoints.
    FlashJob(FastbootSettings settings, int port, Events events, usb::UsbBus* usb, HostResolver& resolver);

    FastbootResult run();

    // The image bytes that pieceSent of an image's pieceBytes piece bytes
    // stand for: progress counts image bytes, and pieces carry header bytes
    // more. Exact for images of any size.
    static uint64_t imageShare(uint64_t pieceSent, uint64_t pieceBytes, uint64_t imageSize);

private:
    FastbootResult fail(FastbootResult code, const std::string& text);
    FastbootResult clientFailed();
    bool connect(std::chrono::seconds within, std::string* why);
    bool readMaxDownload(uint64_t* size);
    FastbootResult flashEntry(const FlashPlan::Entry& entry, uint64_t maxDownload);
    FastbootResult readBack(const DeviceIdentity& before, const std::string& packageDisplay);
    bool reboot(const std::string& command);
    // TCP: waits until the device that accepted reboot-bootloader has gone:
    // it closes the connection, then its endpoint stops answering.
    bool waitGone(Clock::time_point deadline);
    void sent(uint64_t bytes);
    void reportProgress(int32_t percent, bool force);
    void reportSpeed();

    FastbootSettings m_settings;
    int m_port;
    Events m_events;
    usb::UsbBus* const m_usb; // the engine's, for "usb:" endpoints; null without USB
    HostResolver& m_resolver; // the engine's, for "tcp:" endpoints
    std::string m_endpointText;
    std::unique_ptr<Transport> m_link;
    std::unique_ptr<FastbootClient> m_client;
    uint64_t m_total = 0;
    uint64_t m_sent = 0;
    int32_t m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_lastReport;
    engine::TransferRate m_rate;
    std::string m_writing; // the file being sent, for the speed message
    std::chrono::steady_clock::time_point m_lastSpeed;
};

} // namespace fastboot
