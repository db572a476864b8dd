#include "FirehoseTarget.h"

#include <pugixml.hpp>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <sstream>

namespace modemdevice {

namespace {

constexpr unsigned kParseOptions = pugi::parse_default & ~pugi::parse_doctype;

bool number(const std::string& text, uint64_t* value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

uint64_t attributeNumber(const pugi::xml_node& node, const char* name, bool* valid)
{
    uint64_t value = 0;
    if (!number(node.attribute(name).value(), &value))
        *valid = false;
    return value;
}

} // namespace

std::string FirehoseTarget::lunPath(const ModuleSettings& settings, uint32_t partition)
{
    return settings.storageDir + "/lun" + std::to_string(partition) + ".img";
}

bool FirehoseTarget::evaluate(const std::string& text, uint64_t diskSectors, uint64_t* value)
{
    const std::string prefix = "NUM_DISK_SECTORS-";
    if (text.rfind(prefix, 0) != 0)
        return number(text, value);
    std::string rest = text.substr(prefix.size());
    if (!rest.empty() && rest.back() == '.')
        rest.pop_back();
    uint64_t back = 0;
    if (!number(rest, &back) || back > diskSectors)
        return false;
    *value = diskSectors - back;
    return true;
}

uint32_t FirehoseTarget::crc32(const char* data, size_t size)
{
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint8_t(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A number, NUM_DISK_SECTORS-N., or CRC32(<sector>,<bytes>) over what the
// storage of the partition holds there.
bool FirehoseTarget::patchValue(const ModuleSettings& settings, uint32_t partition, uint64_t sectorSize,
                                const std::string& text, uint64_t* value) const
{
    const std::string prefix = "CRC32(";
    if (text.rfind(prefix, 0) != 0 || text.back() != ')')
        return evaluate(text, settings.diskSectors, value);
    const std::string inner = text.substr(prefix.size(), text.size() - prefix.size() - 1);
    const size_t comma = inner.find(',');
    uint64_t sector = 0;
    uint64_t bytes = 0;
    if (comma == std::string::npos || !evaluate(inner.substr(0, comma), settings.diskSectors, &sector)
        || !number(inner.substr(comma + 1), &bytes) || bytes > 1024 * 1024)
        return false;
    std::string data(size_t(bytes), '\0');
    const int fd = ::open(lunPath(settings, partition).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t got = ::pread(fd, data.data(), data.size(), off_t(sector * sectorSize));
    ::close(fd);
    if (got < 0)
        return false;
    *value = crc32(data.data(), data.size()); // bytes past the end of the file read as zeros
    return true;
}

void FirehoseTarget::respond(const Send& send, bool ack, const std::string& log, const std::string& extra)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";
    if (!log.empty()) {
        pugi::xml_document document;
        document.append_child("data").append_child("log").append_attribute("value") = log.c_str();
        std::ostringstream out;
        document.save(out, "", pugi::format_raw | pugi::format_no_declaration);
        send(text + out.str());
    }
    send(text + "<data><response value=\"" + (ack ? "ACK" : "NAK") + "\"" + extra + " /></data>");
}

bool FirehoseTarget::writeAt(const ModuleSettings& settings, uint32_t partition, uint64_t offset, const char* data,
                             size_t size)
{
    const int fd = ::open(lunPath(settings, partition).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    while (ok && size > 0) {
        const ssize_t wrote = ::pwrite(fd, data, size, off_t(offset));
        ok = wrote > 0;
        if (ok) {
            data += wrote;
            size -= size_t(wrote);
            offset += uint64_t(wrote);
        }
    }
    return ::close(fd) == 0 && ok;
}

FirehoseTarget::Next FirehoseTarget::receive(const ModuleSettings& settings, const char* data, size_t size,
                                             const Send& send)
{
    if (m_stopped)
        return Next::Stall;
    // A transfer of whole packets is followed by a zero-length packet when
    // the host said it knows to send them.
    if (size == 0) {
        if (m_expectZlp)
            ++m_zlps;
        m_expectZlp = false;
        return Next::Continue;
    }
    if (m_expectZlp)
        ++m_missingZlps;
    m_expectZlp = m_zlpAware && settings.packetSize > 0 && size % settings.packetSize == 0;
    return m_remaining > 0 ? this->data(settings, data, size, send) : command(settings, data, size, send);
}

FirehoseTarget::Next FirehoseTarget::data(const ModuleSettings& settings, const char* data, size_t size,
                                          const Send& send)
{
    if (settings.stopAfter > 0 && m_dataBytes + size > settings.stopAfter) {
        m_stopped = true;
        return Next::Stall;
    }
    if (settings.dropAfter > 0 && m_dataBytes + size > settings.dropAfter)
        return Next::Drop;
    if (size > m_payload)
        ++m_oversized;
    if (size > m_remaining) {
        m_remaining = 0;
        respond(send, false, "more data than the program announced");
        return Next::Continue;
    }
    m_dataBytes += size;
    if (!writeAt(settings, m_partition, m_writeOffset, data, size)) {
        m_remaining = 0;
        respond(send, false, "storage write failed");
        return Next::Continue;
    }
    m_writeOffset += size;
    m_remaining -= size;
    if (m_remaining == 0)
        respond(send, true, {}, " rawmode=\"false\"");
    return Next::Continue;
}

FirehoseTarget::Next FirehoseTarget::command(const ModuleSettings& settings, const char* data, size_t size,
                                             const Send& send)
{
    pugi::xml_document document;
    if (!document.load_buffer(data, size, kParseOptions)) {
        respond(send, false, "unreadable command");
        return Next::Continue;
    }
    const pugi::xml_node node = document.child("data").first_child();
    const std::string name = node.name();
    if (name == "configure") {
        configure(settings, node, send);
    } else if (!m_configured) {
        respond(send, false, "not configured");
    } else if (name == "program") {
        program(settings, node, send);
    } else if (name == "patch") {
        patch(settings, node, send);
    } else if (name == "power") {
        const std::string value = node.attribute("value").value();
        respond(send, value == "reset", value == "reset" ? "resetting" : "unsupported power value");
        if (value == "reset")
            return Next::Reset;
    } else {
        respond(send, false, "unsupported command " + name);
    }
    return Next::Continue;
}

void FirehoseTarget::configure(const ModuleSettings& settings, const pugi::xml_node& node, const Send& send)
{
    ++m_configures;
    bool valid = true;
    const uint64_t offered = attributeNumber(node, "MaxPayloadSizeToTargetInBytes", &valid);
    const std::string supported = std::to_string(settings.maxPayload);
    if (node.attribute("MemoryName").value() != settings.storage) {
        respond(send, false, std::string("no storage of type ") + node.attribute("MemoryName").value());
        return;
    }
    if (!valid || offered == 0 || offered > settings.maxPayload) {
        respond(send, false, "payload size not supported",
                " MaxPayloadSizeToTargetInBytes=\"" + supported + "\" MaxPayloadSizeToTargetInBytesSupported=\""
                    + supported + "\"");
        return;
    }
    m_configured = true;
    m_payload = offered;
    // Hosts spell it ZlpAwareHost or ZLPAwareHost; the programmer takes both.
    m_zlpAware = false;
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        if (::strcasecmp(attribute.name(), "ZlpAwareHost") == 0)
            m_zlpAware = std::string(attribute.value()) == "1";
    }
    respond(send, true, {},
            " MaxPayloadSizeToTargetInBytes=\"" + std::to_string(offered) + "\" MaxPayloadSizeToTargetInBytesSupported=\""
                + supported + "\"");
}

void FirehoseTarget::program(const ModuleSettings& settings, const pugi::xml_node& node, const Send& send)
{
    bool valid = true;
    const uint64_t sectorSize = attributeNumber(node, "SECTOR_SIZE_IN_BYTES", &valid);
    const uint64_t sectors = attributeNumber(node, "num_partition_sectors", &valid);
    const uint64_t partition = attributeNumber(node, "physical_partition_number", &valid);
    uint64_t start = 0;
    valid = valid && evaluate(node.attribute("start_sector").value(), settings.diskSectors, &start);
    if (!valid || sectorSize == 0 || sectors == 0 || partition > 7) {
        respond(send, false, "malformed program");
        return;
    }
    if (start > settings.diskSectors || sectors > settings.diskSectors - start) {
        respond(send, false, "program beyond the end of the disk");
        return;
    }
    if (!settings.failLabel.empty() && settings.failLabel == node.attribute("label").value()) {
        respond(send, false, std::string("write protected: ") + node.attribute("label").value());
        return;
    }
    m_partition = uint32_t(partition);
    m_writeOffset = start * sectorSize;
    m_remaining = sectors * sectorSize;
    respond(send, true, {}, " rawmode=\"true\"");
}

void FirehoseTarget::patch(const ModuleSettings& settings, const pugi::xml_node& node, const Send& send)
{
    bool valid = true;
    const uint64_t sectorSize = attributeNumber(node, "SECTOR_SIZE_IN_BYTES", &valid);
    const uint64_t byteOffset = attributeNumber(node, "byte_offset", &valid);
    const uint64_t partition = attributeNumber(node, "physical_partition_number", &valid);
    const uint64_t size = attributeNumber(node, "size_in_bytes", &valid);
    uint64_t start = 0;
    uint64_t value = 0;
    valid = valid && evaluate(node.attribute("start_sector").value(), settings.diskSectors, &start)
        && partition <= 7 && sectorSize > 0
        && patchValue(settings, uint32_t(partition), sectorSize, node.attribute("value").value(), &value);
    if (!valid || size == 0 || size > 8 || partition > 7 || std::string(node.attribute("filename").value()) != "DISK") {
        respond(send, false, "cannot apply patch");
        return;
    }
    char bytes[8];
    for (size_t i = 0; i < 8; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xff);
    if (!writeAt(settings, uint32_t(partition), start * sectorSize + byteOffset, bytes, size_t(size))) {
        respond(send, false, "storage write failed");
        return;
    }
    respond(send, true);
}

} // namespace modemdevice
