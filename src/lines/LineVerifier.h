#pragma once

#include "lines/DeviceInfo.h"

#include <QString>

#include <chrono>
#include <functional>

class VersionFileReader;

// The check before a download: the device must have a real IMEI and carry
// the product line of the version directory's package. Runs on the line's
// worker thread, possibly on several lines at once.
class LineVerifier final
{
public:
    using TextLookup = std::function<QString(const char* key)>;
    using InfoSetter = std::function<void(const QString& text)>;
    // True when a device with this IMEI sits on another line that holds it
    // first: the device being checked is the duplicate.
    using DuplicateFinder = std::function<bool(const QByteArray& imei)>;

    static constexpr std::chrono::milliseconds DefaultVersionWait{60000};

    // skipVerification comes from "DLMode", read once at set-up.
    LineVerifier(VersionFileReader& reader, bool skipVerification, TextLookup lookup,
                 std::chrono::milliseconds versionWait = DefaultVersionWait);

    // True when the device may be downloaded. On false the reason has been
    // shown through setInfo. Blocks while the package's internal version is
    // not yet known, at most versionWait. Without a finder the IMEI is not
    // compared with other lines'.
    bool VerifyLine(const DeviceInfo& device, const InfoSetter& setInfo,
                    const DuplicateFinder& isDuplicate = {}) const;

private:
    bool fail(const InfoSetter& setInfo, const char* key) const;

    VersionFileReader& m_reader;
    const bool m_skipVerification;
    const TextLookup m_lookup;
    const std::chrono::milliseconds m_versionWait;
};
