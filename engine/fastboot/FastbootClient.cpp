#include "FastbootClient.h"

#include "FastbootReply.h"
#include "core/InputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace fastboot {

namespace {

// INFO lines move a command's deadline on (a device erasing a large
// partition reports while it works), but never past this many timeouts.
constexpr int kInfoStretch = 10;

std::string trimmed(const std::string& text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0;
    size_t e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

} // namespace

FastbootClient::FastbootClient(Transport& link, std::chrono::milliseconds timeout, TextSink onText)
    : m_link(link), m_timeout(timeout), m_onText(std::move(onText))
{
}

bool FastbootClient::command(const std::string& text, std::string* okay, std::string* firstInfo)
{
    m_failure = {};
    if (!sendPacket(text.data(), text.size(), "sending \"" + text + "\""))
        return false;
    return finalReply(text, okay, firstInfo, nullptr);
}

bool FastbootClient::startDownload(uint32_t size, std::string* command)
{
    m_failure = {};
    char text[32];
    std::snprintf(text, sizeof text, "download:%08x", size);
    *command = text;
    if (!sendPacket(command->data(), command->size(), "starting a download"))
        return false;
    uint32_t ready = 0;
    if (!finalReply(*command, nullptr, nullptr, &ready))
        return false;
    if (ready != size) {
        return fail(FASTBOOT_RESULT_PROTOCOL_ERROR,
                    "The device offered " + std::to_string(ready) + " bytes for a download of "
                        + std::to_string(size) + " bytes. Check the device's boot loader.");
    }
    return true;
}

bool FastbootClient::download(uint32_t size, const DataSource& source, const Progress& progress)
{
    std::vector<char> block;
    const ChunkSource chunks = [&](size_t n, std::vector<Chunk>* out, std::string* why) {
        block.resize(n);
        if (!source(block.data(), n, why))
            return false;
        out->assign(1, Chunk{block.data(), -1, 0, n});
        return true;
    };
    return download(size, chunks, progress);
}

bool FastbootClient::download(uint32_t size, const ChunkSource& source, const Progress& progress)
{
    std::string command;
    if (!startDownload(size, &command))
        return false;
    std::vector<Chunk> chunks;
    std::vector<char> buffer; // only for transports that take whole packets
    uint64_t sent = 0;
    while (sent < size) {
        const size_t n = size_t(std::min<uint64_t>(kBlock, size - sent));
        std::string why;
        chunks.clear();
        if (!source(n, &chunks, &why))
            return fail(FASTBOOT_RESULT_BAD_PACKAGE, why);
        if (!sendChunks(chunks, n, &buffer))
            return false;
        sent += n;
        if (progress)
            progress(n);
    }
    return finalReply(command, nullptr, nullptr, nullptr);
}

bool FastbootClient::sendChunks(const std::vector<Chunk>& chunks, size_t size, std::vector<char>* buffer)
{
    if (chunks.size() == 1 && chunks[0].data)
        return sendPacket(chunks[0].data, size, "sending data");
    if (m_link.sendsFromFiles()) {
        const IoStatus status = m_link.sendChunks(chunks, size, Clock::now() + m_timeout);
        return status == IoStatus::Ok || linkFailed(status, "sending data");
    }
    buffer->resize(size);
    char* out = buffer->data();
    for (const Chunk& c : chunks) {
        errno = 0;
        if (c.data) {
            std::memcpy(out, c.data, c.size);
        } else if (!InputFile::readAt(c.fd, c.offset, out, c.size)) {
            return fail(FASTBOOT_RESULT_BAD_PACKAGE, errno != 0 ? std::strerror(errno) : "the file ended early");
        }
        out += c.size;
    }
    return sendPacket(buffer->data(), size, "sending data");
}

bool FastbootClient::sendPacket(const void* data, size_t size, const std::string& during)
{
    const IoStatus status = m_link.send(data, size, Clock::now() + m_timeout);
    return status == IoStatus::Ok || linkFailed(status, during);
}

bool FastbootClient::finalReply(const std::string& command, std::string* okay, std::string* firstInfo,
                                uint32_t* dataSize)
{
    const Clock::time_point limit = Clock::now() + m_timeout * kInfoStretch;
    Clock::time_point deadline = Clock::now() + m_timeout;
    bool infoSeen = false;
    for (;;) {
        char packet[FastbootReply::kMaxSize];
        size_t size = 0;
        const IoStatus status = m_link.receive(packet, sizeof packet, &size, std::min(deadline, limit));
        if (status != IoStatus::Ok)
            return linkFailed(status, "waiting for the answer to \"" + command + "\"");
        const FastbootReply reply = FastbootReply::parse(packet, size);
        switch (reply.kind) {
        case FastbootReply::Kind::Info:
        case FastbootReply::Kind::Text:
            if (reply.kind == FastbootReply::Kind::Info && !infoSeen && firstInfo) {
                *firstInfo = trimmed(reply.text);
                infoSeen = true;
            }
            if (m_onText && !trimmed(reply.text).empty())
                m_onText(trimmed(reply.text));
            deadline = Clock::now() + m_timeout;
            continue;
        case FastbootReply::Kind::Okay:
            if (dataSize)
                break; // a download must be answered with DATA first
            if (okay)
                *okay = reply.text;
            return true;
        case FastbootReply::Kind::Data:
            if (!dataSize)
                break;
            *dataSize = reply.dataSize;
            return true;
        case FastbootReply::Kind::Fail:
            return fail(FASTBOOT_RESULT_DEVICE_FAILED,
                        "The device refused \"" + command + "\": " + (reply.text.empty() ? "(no reason given)" : reply.text));
        case FastbootReply::Kind::Invalid:
            break;
        }
        return fail(FASTBOOT_RESULT_PROTOCOL_ERROR,
                    "The device gave an answer that makes no sense to \"" + command + "\" ("
                        + (reply.kind == FastbootReply::Kind::Invalid ? reply.text : "out of order")
                        + "). Check that the endpoint is a fastboot device.");
    }
}

bool FastbootClient::fail(FastbootResult code, std::string text)
{
    m_failure = {code, std::move(text)};
    return false;
}

bool FastbootClient::linkFailed(IoStatus status, const std::string& during)
{
    if (m_failure.code != FASTBOOT_RESULT_SUCCESS)
        return false; // the first cause stays
    switch (status) {
    case IoStatus::Timeout:
        return fail(FASTBOOT_RESULT_TIMEOUT, "The device stopped answering while " + during
                                                 + ". Replug it and start the line again.");
    case IoStatus::TooLarge:
        return fail(FASTBOOT_RESULT_PROTOCOL_ERROR, "The device sent an oversize answer while " + during
                                                        + " (" + m_link.lastError()
                                                        + "). Check that the endpoint is a fastboot device.");
    case IoStatus::FileError:
        return fail(FASTBOOT_RESULT_BAD_PACKAGE, m_link.lastError());
    case IoStatus::Ok:
    case IoStatus::Closed:
    case IoStatus::Error:
        break;
    }
    return fail(FASTBOOT_RESULT_CONNECTION_LOST, "Connection to the device lost while " + during + " ("
                                                     + m_link.lastError()
                                                     + "). Check the cable and start the line again.");
}

} // namespace fastboot
