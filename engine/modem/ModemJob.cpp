#include "ModemJob.h"

#include "AtPort.h"
#include "FlashPackage.h"
#include "ModemFlash.h"
#include "core/VersionScan.h"

#include <algorithm>
#include <filesystem>
#include <thread>

namespace modem {

namespace {

std::string socketOf(const std::string& endpoint)
{
    return endpoint.rfind("usb:", 0) == 0 ? endpoint.substr(4) : endpoint;
}

} // namespace

ModemJob::ModemJob(ModemSettings settings, int port, Events events, ModemLinks& links)
    : m_settings(std::move(settings))
    , m_port(port)
    , m_events(std::move(events))
    , m_links(links)
{
}

ModemResult ModemJob::resultOf(ModemFailure::Kind kind)
{
    switch (kind) {
    case ModemFailure::Kind::None: return MODEM_RESULT_SUCCESS;
    case ModemFailure::Kind::Timeout: return MODEM_RESULT_TIMEOUT;
    case ModemFailure::Kind::ConnectionLost: return MODEM_RESULT_CONNECTION_LOST;
    case ModemFailure::Kind::ProgrammerRefused: return MODEM_RESULT_PROGRAMMER_REFUSED;
    case ModemFailure::Kind::FirehoseNak: return MODEM_RESULT_FIREHOSE_NAK;
    case ModemFailure::Kind::BadPackage: return MODEM_RESULT_BAD_PACKAGE;
    case ModemFailure::Kind::BadSettings: return MODEM_RESULT_BAD_SETTINGS;
    case ModemFailure::Kind::Protocol: return MODEM_RESULT_PROTOCOL_ERROR;
    }
    return MODEM_RESULT_INTERNAL_ERROR;
}

ModemResult ModemJob::run()
{
    const std::string endpoint = m_settings.endpointOf(m_port);
    if (endpoint.empty()) {
        return fail(MODEM_RESULT_NO_MODULE, "Port " + std::to_string(m_port) + " has no socket: set PORT."
                                                + std::to_string(m_port) + "=usb:<socket> in [MODEM_Engine] of config.ini.");
    }
    m_socket = socketOf(endpoint);
    m_where = "port " + std::to_string(m_port) + " (USB socket " + m_socket + ")";
    for (const std::string& problem : m_settings.problems)
        m_events.message(problem);

    FlashPackage package;
    std::string why;
    if (!FlashPackage::load(m_settings.versionDir, m_settings.package, &package, &why))
        return fail(MODEM_RESULT_BAD_PACKAGE, "Bad package in " + m_settings.versionDir + ": " + why + ".");
    std::string packageDisplay;
    const bool readback = m_settings.readback && m_settings.reset;
    if (readback) {
        const auto path = (std::filesystem::path(m_settings.versionDir) / "system.img").string();
        const VersionScan::Result versions = VersionScan().scan(path);
        if (versions.outcome != VersionScan::Outcome::Complete || !versions.displayFound) {
            return fail(MODEM_RESULT_BAD_PACKAGE,
                        "No display version in " + path + " to check the module against. Check the software version.");
        }
        packageDisplay = versions.displayVersion;
    } else if (m_settings.readback) {
        m_events.message("READBACK=1 needs RESET=1: the module is not read back.");
    }

    reportProgress(0, true);
    const ModemLinks::State state = m_links.state(m_socket);
    ModuleIdentity before;
    switch (state.mode) {
    case ModemLinks::Mode::None:
        return fail(MODEM_RESULT_NO_MODULE,
                    "No module in " + m_where + ". Plug the module in and start the line again.");
    case ModemLinks::Mode::Other:
        return fail(MODEM_RESULT_NO_MODULE, "The device in " + m_where
                                                + " is no module this engine knows (neither its vendor interfaces nor "
                                                  "download mode). Check EDL_IDS and the device.");
    case ModemLinks::Mode::Normal:
        if (const ModemResult code = identify("before the download", &before); code != MODEM_RESULT_SUCCESS)
            return code;
        if (const ModemResult code = toDownloadMode(state); code != MODEM_RESULT_SUCCESS)
            return code;
        break;
    case ModemLinks::Mode::Download:
        break; // a blank board, or a module left in download mode: straight on
    }

    auto link = m_links.openDownload(m_socket, Clock::now() + std::chrono::seconds(m_settings.arrivalTimeoutS), &why);
    if (!link)
        return fail(MODEM_RESULT_NO_DOWNLOAD_MODE, "Cannot open the module in download mode in " + m_where + ": " + why
                                                       + ". Start the line again.");
    m_package = &package;
    m_rate.record(0, Clock::now());
    m_lastSpeed = Clock::now();
    ModemFlash flash(*link, package, m_settings.flashSettings(),
                     [&](uint64_t done, uint64_t total) { written(done, total); },
                     [&](const std::string& line) { m_events.message(line); });
    const bool flashed = flash.run();
    m_package = nullptr;
    link.reset();
    if (!flashed) {
        const ModemFailure& failure = flash.failure();
        std::string text = failure.text;
        // One sentence of advice after the module's own, where the protocol
        // core has not already given it.
        std::string advice;
        if (failure.kind == ModemFailure::Kind::ProgrammerRefused && text.find("secure-boot") == std::string::npos)
            advice = "The programmer may not match the chip's secure-boot keys: check PROGRAMMER and the package.";
        else if (failure.kind == ModemFailure::Kind::ConnectionLost)
            advice = "Was the module pulled? Plug it in and start the line again.";
        else if (failure.kind == ModemFailure::Kind::Timeout)
            advice = "The module stopped answering: unplug it, plug it in again and start the line again.";
        if (!advice.empty()) {
            while (!text.empty() && (text.back() == '.' || text.back() == ' '))
                text.pop_back();
            text += ". " + advice;
        }
        return fail(resultOf(failure.kind), "Download failed on " + m_where + ": " + text);
    }
    if (m_settings.reset && m_events.away)
        m_events.away();
    if (readback) {
        if (const ModemResult code = readBack(before, packageDisplay); code != MODEM_RESULT_SUCCESS)
            return code;
    }
    reportProgress(100, true);
    m_events.message("Download complete");
    return MODEM_RESULT_SUCCESS;
}

ModemResult ModemJob::identify(const std::string& when, ModuleIdentity* identity)
{
    std::string why;
    switch (ModuleIdentity::read(m_links, m_socket, m_settings, identity, &why, &m_ttyPosition)) {
    case ModuleIdentity::Outcome::Read:
        return MODEM_RESULT_SUCCESS;
    case ModuleIdentity::Outcome::Lost:
        return fail(MODEM_RESULT_CONNECTION_LOST, "The module in " + m_where + " went away " + when + " (" + why
                                                      + "). Plug it in and start the line again.");
    case ModuleIdentity::Outcome::NoTty:
    case ModuleIdentity::Outcome::Silent:
        break;
    }
    return fail(MODEM_RESULT_AT_SILENT, "The AT port of the module in " + m_where + " does not answer " + when + " ("
                                            + why + "). Check AT_INTERFACE, that no other program (ModemManager) "
                                                    "holds the tty, and the module.");
}

ModemResult ModemJob::toDownloadMode(const ModemLinks::State& state)
{
    if (m_settings.edlSwitch.empty()) {
        return fail(MODEM_RESULT_BAD_SETTINGS,
                    "The module in " + m_where + " is in normal mode and EDL_SWITCH is not set: set "
                    "EDL_SWITCH=at:<command> in [MODEM_Engine] of config.ini (the module maker's command for download mode).");
    }
    std::string why;
    std::unique_ptr<PacketLink> tty;
    if (ModuleIdentity::findAtPort(m_links, m_socket, m_settings, &tty, &why, &m_ttyPosition)
        != ModuleIdentity::Outcome::Read)
        return fail(MODEM_RESULT_AT_SILENT, "The AT port of the module in " + m_where + " does not answer (" + why
                                                + "). Check the module and start the line again.");
    m_events.message("Switching the module to download mode");
    if (m_events.away)
        m_events.away();
    AtPort port(*tty);
    const AtResult result = port.command(m_settings.edlSwitch, Clock::now() + ModuleIdentity::kCommandTimeout);
    tty.reset();
    if (result.status == AtResult::Status::Error) {
        return fail(MODEM_RESULT_NO_DOWNLOAD_MODE, "The module in " + m_where + " refused " + m_settings.edlSwitch
                                                       + " (ERROR). Check EDL_SWITCH for this module.");
    }
    // A module may leave before its OK arrives: whatever the reply, the
    // arrival in download mode decides.
    const auto deadline = Clock::now() + std::chrono::seconds(m_settings.arrivalTimeoutS);
    if (!m_links.waitFor(m_socket, ModemLinks::Mode::Download, state.address, deadline)) {
        return fail(MODEM_RESULT_NO_DOWNLOAD_MODE,
                    "The module in " + m_where + " did not come back in download mode within "
                        + std::to_string(m_settings.arrivalTimeoutS) + " s after " + m_settings.edlSwitch
                        + ". Check EDL_SWITCH and EDL_IDS, then unplug the module and start again.");
    }
    return MODEM_RESULT_SUCCESS;
}

ModemResult ModemJob::readBack(const ModuleIdentity& before, const std::string& packageDisplay)
{
    m_events.message("Waiting for the module to come back");
    const auto deadline = Clock::now() + std::chrono::seconds(m_settings.arrivalTimeoutS);
    const auto notBack = [&] {
        return fail(MODEM_RESULT_NOT_BACK, "The module in " + m_where + " did not come back in normal mode within "
                                               + std::to_string(m_settings.arrivalTimeoutS)
                                               + " s after the reset. Check it and start the line again.");
    };
    ModuleIdentity after;
    std::string why;
    // Its tty appears a moment after the device, and answers once the
    // firmware runs: tried again until the deadline.
    for (;;) {
        if (!m_links.waitFor(m_socket, ModemLinks::Mode::Normal, 0, deadline))
            return notBack();
        const ModuleIdentity::Outcome outcome
            = ModuleIdentity::read(m_links, m_socket, m_settings, &after, &why, &m_ttyPosition);
        if (outcome == ModuleIdentity::Outcome::Read)
            break;
        if (Clock::now() >= deadline) {
            if (outcome == ModuleIdentity::Outcome::NoTty)
                return notBack();
            return fail(MODEM_RESULT_AT_SILENT, "The AT port of the module in " + m_where
                                                    + " does not answer after the reset (" + why + "). Check the module.");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (!before.imei.empty() && after.imei != before.imei) {
        return fail(MODEM_RESULT_READBACK_MISMATCH, "Read-back mismatch: IMEI expected " + before.imei + ", found "
                                                        + after.imei + ". Set the module aside.");
    }
    if (after.display != packageDisplay) {
        return fail(MODEM_RESULT_READBACK_MISMATCH, "Read-back mismatch: display version expected " + packageDisplay
                                                        + ", found " + after.display + ". Download the module again.");
    }
    return MODEM_RESULT_SUCCESS;
}

void ModemJob::written(uint64_t done, uint64_t total)
{
    if (total > 0)
        reportProgress(int32_t(std::min<uint64_t>(done * 100 / total, 99)), false);
    const auto now = Clock::now();
    m_rate.record(done, now);
    if (now - m_lastSpeed < kSpeedInterval)
        return;
    const std::optional<double> rate = m_rate.bytesPerSecond(now);
    if (!rate)
        return;
    m_lastSpeed = now;
    // The image being written: the write whose bytes hold done.
    std::string file;
    uint64_t end = 0;
    for (const FlashPackage::Write& write : m_package ? m_package->writes() : std::vector<FlashPackage::Write>{}) {
        end += write.bytes();
        if (done < end) {
            file = write.entry.filename;
            break;
        }
    }
    m_events.message("Writing" + (file.empty() ? std::string() : " " + file) + ": "
                     + engine::TransferRate::describe(*rate, total - std::min(done, total)));
}

void ModemJob::reportProgress(int32_t percent, bool force)
{
    const auto now = Clock::now();
    if (percent == m_lastPercent || (!force && now - m_lastReport < kProgressInterval))
        return;
    m_lastPercent = percent;
    m_lastReport = now;
    m_events.progress(percent);
}

ModemResult ModemJob::fail(ModemResult code, const std::string& text)
{
    m_events.message(text);
    return code;
}

} // namespace modem
