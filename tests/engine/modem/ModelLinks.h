#pragma once

#include "ModelLink.h"
#include "ModemLinks.h"
#include "ModuleModel.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>

// The modem engine's links into emulated modules in this process: a socket
// holds a model (or nothing); its mode is the model's, and every change of
// mode is a new enumeration at a new address, as on the bus.
class ModelLinks final : public modem::ModemLinks
{
public:
    void plug(const std::string& socket, modemdevice::ModuleModel* model)
    {
        std::lock_guard lock(m_mutex);
        m_sockets[socket].model = model;
        ++m_sockets[socket].address;
    }
    void pull(const std::string& socket)
    {
        std::lock_guard lock(m_mutex);
        m_sockets[socket].model = nullptr;
    }

    State state(const std::string& socket) const override
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_sockets.find(socket);
        if (it == m_sockets.end() || !it->second.model)
            return {};
        Slot& slot = it->second;
        const Mode mode = slot.model->mode() == modemdevice::ModuleModel::Mode::Normal ? Mode::Normal : Mode::Download;
        if (mode != slot.lastMode) {
            slot.lastMode = mode;
            ++slot.address;
        }
        return {mode, slot.address};
    }

    bool waitFor(const std::string& socket, Mode mode, int notAddress, modem::Clock::time_point deadline) override
    {
        for (;;) {
            const State now = state(socket);
            if (now.mode == mode && now.address != notAddress)
                return true;
            if (modem::Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::vector<std::string> ttys(const std::string& socket, int) const override
    {
        return state(socket).mode == Mode::Normal ? std::vector<std::string>{socket} : std::vector<std::string>{};
    }

    std::unique_ptr<modem::PacketLink> openTty(const std::string& tty, std::string* why) override
    {
        return open(tty, Mode::Normal, why);
    }

    std::unique_ptr<modem::PacketLink> openDownload(const std::string& socket, modem::Clock::time_point,
                                                    std::string* why) override
    {
        return open(socket, Mode::Download, why);
    }

private:
    struct Slot
    {
        modemdevice::ModuleModel* model = nullptr;
        Mode lastMode = Mode::None;
        int address = 0;
    };

    std::unique_ptr<modem::PacketLink> open(const std::string& socket, Mode mode, std::string* why)
    {
        if (state(socket).mode != mode) {
            *why = "no module in that mode";
            return nullptr;
        }
        std::lock_guard lock(m_mutex);
        return std::make_unique<modemdevice::ModelLink>(*m_sockets[socket].model);
    }

    mutable std::mutex m_mutex;
    mutable std::map<std::string, Slot> m_sockets;
};
