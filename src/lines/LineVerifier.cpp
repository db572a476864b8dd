#include "lines/LineVerifier.h"

#include "lines/VersionStem.h"
#include "settings/VersionFileReader.h"

namespace {

// Fifteen zeros: what a device without IMEI reports.
constexpr char NoImei[] = "000000000000000";

} // namespace

LineVerifier::LineVerifier(VersionFileReader& reader, bool skipVerification, TextLookup lookup,
                           std::chrono::milliseconds versionWait)
    : m_reader(reader),
      m_skipVerification(skipVerification),
      m_lookup(std::move(lookup)),
      m_versionWait(versionWait)
{
}

bool LineVerifier::VerifyLine(const DeviceInfo& device, const InfoSetter& setInfo,
                              const DuplicateFinder& isDuplicate) const
{
    setInfo(m_lookup("IDC_EXE_INFO_CHECKVERSION"));
    if (m_skipVerification)
        return true;
    // The IMEI first, so such a device is refused before any package is read.
    if (device.imei.isEmpty() || device.imei == NoImei)
        return fail(setInfo, "IDC_EXE_INFO_IMEIERROR");
    // Two units with one IMEI: one of them carries a copied identity, and
    // flashing both would put the same IMEI into two records.
    if (isDuplicate && isDuplicate(device.imei))
        return fail(setInfo, "IDC_EXE_INFO_DUPLICATEIMEI");

    const QByteArray packageInternal = m_reader.waitForInternalVersion(m_versionWait);
    if (packageInternal.isEmpty())
        return fail(setInfo, "IDC_EXE_INFO_FILEVERSIONERROR");
    const QByteArray packageDisplay = m_reader.displayVersion();

    // Only the internal version is waited for; an unknown display version
    // has an empty stem.
    if (!packageInternal.contains(StemTail(device.internalVersion)))
        return fail(setInfo, "IDC_EXE_INFO_MATCHVERSIONERROR");
    if (VersionStem(device.displayVersion) != VersionStem(packageDisplay))
        return fail(setInfo, "IDC_EXE_INFO_MATCHVERSIONERROR");
    if (VersionStem(device.internalVersion) != VersionStem(packageInternal))
        return fail(setInfo, "IDC_EXE_INFO_MATCHVERSIONERROR");
    return true;
}

bool LineVerifier::fail(const InfoSetter& setInfo, const char* key) const
{
    setInfo(m_lookup(key));
    return false;
}
