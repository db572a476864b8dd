#include "DeviceIdentity.h"

#include "DeviceText.h"

namespace fastboot {

namespace {

// getvar:<name> answers in its OKAY; oem:<command> in its first INFO line.
bool readField(FastbootClient& client, const std::string& source, std::string* value)
{
    value->clear();
    std::string answer;
    bool ok = false;
    if (source.starts_with("oem:"))
        ok = client.command("oem " + source.substr(4), nullptr, &answer);
    else
        ok = client.command("getvar:" + (source.starts_with("getvar:") ? source.substr(7) : source), &answer);
    if (ok) {
        *value = answer;
        return true;
    }
    return client.failure().code == FASTBOOT_RESULT_DEVICE_FAILED;
}

} // namespace

bool DeviceIdentity::read(FastbootClient& client, const FastbootSettings& settings, DeviceIdentity* identity)
{
    return readField(client, settings.displaySource, &identity->display)
           && readField(client, settings.internalSource, &identity->internal)
           && readField(client, settings.imeiSource, &identity->imei)
           && readField(client, settings.serialSource, &identity->serial);
}

std::string DeviceIdentity::joined() const
{
    return DeviceText::field(display) + ',' + DeviceText::field(internal) + ',' + DeviceText::field(imei);
}

} // namespace fastboot
