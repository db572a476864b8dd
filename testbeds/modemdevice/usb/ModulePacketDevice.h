#pragma once

#include "PacketDevice.h"

#include "ModuleModel.h"

#include <deque>

namespace modemdevice {

// An emulated module in download mode behind a USB interface: bulk OUT
// transfers go to the ModuleModel (Sahara, then Firehose), its answers wait
// for bulk IN. One per enumeration; the model outlives re-plugging.
//
// The model's misbehaviour maps onto the bus: a module that stops reading
// leaves later OUT transfers pending (the host's deadline ends them); one that
// leaves after a packet goes once its last answer is taken; one that left
// before taking a packet fails that transfer and is gone at once.
class ModulePacketDevice final : public PacketDevice
{
public:
    explicit ModulePacketDevice(ModuleModel& model) : m_model(model) {}

    void receive(std::string_view packet) override
    {
        if (m_stalled || m_leaving || m_dropped) {
            m_tookLast = false;
            return;
        }
        m_tookLast = true;
        const auto next = m_model.receive(packet.data(), packet.size(), [this](const std::string& reply) {
            m_replies.push_back(reply);
            return true;
        });
        switch (next) {
        case ModuleModel::Next::Continue:
            break;
        case ModuleModel::Next::Stall:
            m_stalled = true;
            m_tookLast = false;
            break;
        case ModuleModel::Next::Disconnect:
            m_leaving = true;
            break;
        case ModuleModel::Next::Drop:
            m_dropped = true;
            m_tookLast = false;
            m_replies.clear();
            break;
        }
    }
    std::optional<std::string> nextReply() override
    {
        if (m_replies.empty())
            return std::nullopt;
        std::string reply = std::move(m_replies.front());
        m_replies.pop_front();
        return reply;
    }
    bool leaving() const override { return m_dropped || (m_leaving && m_replies.empty()); }
    bool tookLast() const override { return m_tookLast; }
    bool stalled() const override { return m_stalled; }
    // A host took the interface: the boot ROM (re)starts its hello; what an
    // earlier host left unread is gone.
    void opened() override
    {
        if (m_stalled || m_leaving || m_dropped)
            return;
        m_replies.clear();
        m_model.connected([this](const std::string& reply) {
            m_replies.push_back(reply);
            return true;
        });
    }

private:
    ModuleModel& m_model;
    std::deque<std::string> m_replies;
    bool m_stalled = false;
    bool m_leaving = false;
    bool m_dropped = false;
    bool m_tookLast = true;
};

} // namespace modemdevice
