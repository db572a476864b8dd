#pragma once

#include "PacketDevice.h"

#include "DeviceModel.h"

#include <deque>

// The emulated fastboot device model behind a USB interface: the same model
// the TCP server drives, fed bulk transfers instead of TCP frames. One per
// enumeration; the model itself outlives re-plugging.
class ModelPacketDevice final : public PacketDevice
{
public:
    explicit ModelPacketDevice(fbdevice::DeviceModel& model) : m_model(model) {}

    void receive(std::string_view packet) override
    {
        if (m_dropped)
            return;
        const auto next = m_model.receive(packet.data(), packet.size(), [this](const std::string& reply) {
            m_replies.push_back(reply);
            return true;
        });
        m_dropped = next == fbdevice::DeviceModel::Next::Disconnect;
    }
    std::optional<std::string> nextReply() override
    {
        if (m_replies.empty())
            return std::nullopt;
        std::string reply = std::move(m_replies.front());
        m_replies.pop_front();
        return reply;
    }
    bool leaving() const override { return m_dropped && m_replies.empty(); }
    void opened() override { m_model.sessionStarted(); }
    void closed() override { m_model.sessionEnded(); }

private:
    fbdevice::DeviceModel& m_model;
    std::deque<std::string> m_replies;
    bool m_dropped = false;
};
