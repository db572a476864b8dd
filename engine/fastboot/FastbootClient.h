#pragma once

#include "FastbootResults.h"
#include "Transport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fastboot {

// Why the last call of a FastbootClient failed: the result code of the line
// and a text for the operator.
struct Failure
{
    FastbootResult code = FASTBOOT_RESULT_SUCCESS;
    std::string text;
};

// The host side of the fastboot protocol over any Transport: commands with
// their INFO and TEXT lines, and downloads streamed from a data source.
class FastbootClient final
{
public:
    // Fills exactly size bytes, or says why not in *why.
    using DataSource = std::function<bool(char* buffer, size_t size, std::string* why)>;
    // Describes the next size bytes as memory and file stretches, or says
    // why not in *why.
    using ChunkSource = std::function<bool(size_t size, std::vector<Chunk>* chunks, std::string* why)>;
    using TextSink = std::function<void(const std::string& line)>;
    using Progress = std::function<void(uint64_t bytesSent)>;

    static constexpr size_t kBlock = 4 * 1024 * 1024;

    FastbootClient(Transport& link, std::chrono::milliseconds timeout, TextSink onText);

    // Sends a command and waits for OKAY (its text to *okay) or FAIL. Every
    // INFO and TEXT line goes to the text sink; the first INFO line also to
    // *firstInfo when given.
    bool command(const std::string& text, std::string* okay = nullptr, std::string* firstInfo = nullptr);

    // "download:%08x", the data in blocks, and the device's final OKAY.
    bool download(uint32_t size, const DataSource& source, const Progress& progress = {});
    // The same with data described rather than copied: a transport that
    // sends from files takes the file stretches as they are; for the others
    // the blocks are read into one buffer of kBlock bytes. A file that
    // cannot be read fails with FASTBOOT_RESULT_BAD_PACKAGE and the reason.
    bool download(uint32_t size, const ChunkSource& source, const Progress& progress = {});

    const Failure& failure() const { return m_failure; }

private:
    bool sendPacket(const void* data, size_t size, const std::string& during);
    bool startDownload(uint32_t size, std::string* command);
    bool sendChunks(const std::vector<Chunk>& chunks, size_t size, std::vector<char>* buffer);
    // Waits for the reply that ends a command; INFO and TEXT are passed on.
    bool finalReply(const std::string& command, std::string* okay, std::string* firstInfo,
                    uint32_t* dataSize);
    bool fail(FastbootResult code, std::string text);
    bool linkFailed(IoStatus status, const std::string& during);

    Transport& m_link;
    std::chrono::milliseconds m_timeout;
    TextSink m_onText;
    Failure m_failure;
};

} // namespace fastboot
