#pragma once

#include <optional>
#include <string>
#include <string_view>

// The device behind an emulated USB fastboot interface: what it does with
// each bulk OUT transfer and what it has to say on bulk IN. Called on the
// emulation's own thread, one call at a time per device.
class PacketDevice
{
public:
    virtual ~PacketDevice() = default;

    // One bulk OUT transfer, whole.
    virtual void receive(std::string_view packet) = 0;
    // The next packet for a waiting bulk IN transfer, if the device has one.
    virtual std::optional<std::string> nextReply() = 0;
    // True once the device has been told to reboot (or drops its link) and
    // its last reply has been taken: it then leaves the bus.
    virtual bool leaving() const { return false; }
    // False when the device did not take the last OUT transfer because it
    // left the bus first: that transfer fails as for a vanished device.
    virtual bool tookLast() const { return true; }
    // True once the device has stopped reading: OUT transfers stay pending
    // until the host gives up on them.
    virtual bool stalled() const { return false; }
    // A host claimed the interface / released it.
    virtual void opened() {}
    virtual void closed() {}
};
