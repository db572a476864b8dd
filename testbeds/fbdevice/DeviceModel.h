#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace fbdevice {

// What an emulated device is and how it misbehaves.
struct DeviceSettings
{
    std::string display;  // getvar:ro.build.display.id
    std::string internal; // getvar:ro.build.sw_internal_version
    std::string imei;     // getvar:imei
    std::string product = "emulated";
    std::map<std::string, std::string> oem; // "oem <command>" -> its INFO line
    uint32_t maxDownload = 256u * 1024 * 1024;
    std::string failPartition; // "flash:<this>" answers FAIL
    uint64_t dropAfter = 0;    // drop the connection after this many data bytes (0: never)
    int delayMsPerMiB = 0;     // time the device takes per MiB received
    int awayMs = 500;          // how long a reboot takes
    int lingerMs = 0;          // after a reboot's OKAY the old bootloader still answers this long
    bool neverReboots = false; // answers OKAY to reboot-bootloader and stays as it is
    std::string storageDir;    // partitions are written here as <name>.img
};

// One emulated fastboot device, driven by packets: each command is one
// packet, download data any number of packets, each reply one packet. A USB
// emulation hands it bulk transfers, the TCP server the payloads of its
// frames; both drive the same logic. Thread-safe.
class DeviceModel final
{
public:
    // Sends one reply packet; false when the link is gone.
    using Send = std::function<bool(const std::string& packet)>;
    enum class Next { Continue, Disconnect };

    static constexpr size_t kMaxCommand = 4096;

    explicit DeviceModel(DeviceSettings settings);
    ~DeviceModel();
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    // A host connection begins or ends; an unfinished download is dropped.
    void sessionStarted();
    void sessionEnded();

    // Bytes of download data still expected; 0 outside a download.
    uint64_t dataExpected() const;
    // A command, or download data while dataExpected() > 0.
    Next receive(const char* data, size_t size, const Send& send);

    // True while the bootloader is there to answer (false while the device
    // reboots or runs its system).
    bool present() const;
    // True once a "reboot" is over: the device runs its system, without
    // fastboot, until it is booted to the bootloader again.
    bool inSystem() const;
    // The operator boots the device (back) into its bootloader.
    void bootToBootloader();

    std::string display() const;
    std::string internal() const;
    std::string partitionPath(const std::string& partition) const;
    // How many host sessions (connections, claims of the interface) began.
    int sessions() const;
    // How many times each partition was flashed since the start.
    int flashCount(const std::string& partition) const;

private:
    Next command(const std::string& text, const Send& send);
    Next data(const char* data, size_t size, const Send& send);
    Next getvar(const std::string& name, const Send& send);
    Next download(const std::string& sizeText, const Send& send);
    Next flash(const std::string& partition, const Send& send);
    Next reboot(bool toSystem, const Send& send);
    bool applySparse(const std::string& target, std::string* why);
    void comeBackIfDue() const;
    void closeDownload();

    mutable std::mutex m_mutex;
    DeviceSettings m_settings;
    mutable std::string m_display;
    mutable std::string m_internal;
    mutable std::chrono::steady_clock::time_point m_awayFrom; // the bootloader lingers until then
    mutable std::chrono::steady_clock::time_point m_awayUntil;
    mutable bool m_away = false;
    mutable bool m_system = false; // running its system (after the away time, when toSystem)
    bool m_toSystem = false;
    std::string m_downloadPath;
    int m_downloadFd = -1;
    uint64_t m_expected = 0;    // data bytes still to come
    uint64_t m_downloaded = 0;  // size of the finished download, 0: none
    uint64_t m_sessionData = 0; // data bytes in this session
    int m_sessions = 0;
    std::map<std::string, int> m_flashes;
};

} // namespace fbdevice
