#include "FlashXmlFile.h"

#include "FirehoseXml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace modem {

namespace {

constexpr unsigned kParseOptions = pugi::parse_default & ~pugi::parse_doctype;
constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

// Reads the attributes of one element, remembering the first fault.
class Attributes
{
public:
    Attributes(pugi::xml_node node, std::string where)
        : m_node(node)
        , m_where(std::move(where))
    {
    }

    std::string text(const char* name, bool required = false)
    {
        const pugi::xml_attribute attribute = m_node.attribute(name);
        if (!attribute && required)
            fault(std::string("<") + m_node.name() + "> without " + name);
        return attribute.value();
    }

    template <typename T>
    T number(const char* name, bool required, T fallback = 0)
    {
        const pugi::xml_attribute attribute = m_node.attribute(name);
        if (!attribute) {
            if (required)
                fault(std::string("<") + m_node.name() + "> without " + name);
            return fallback;
        }
        const std::string value = attribute.value();
        uint64_t result = 0;
        bool valid = !value.empty() && value.size() <= 19;
        for (char c : value) {
            valid = valid && std::isdigit(static_cast<unsigned char>(c));
            result = result * 10 + uint64_t(c - '0');
        }
        if (!valid || result > std::numeric_limits<T>::max()) {
            fault(std::string(name) + "=\"" + value + "\" is not a valid number");
            return fallback;
        }
        return T(result);
    }

    bool flag(const char* name)
    {
        std::string value = m_node.attribute(name).value();
        std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return value == "true" || value == "1";
    }

    void fault(const std::string& problem)
    {
        if (m_fault.empty())
            m_fault = m_where + ": " + problem;
    }

    const std::string& faultText() const { return m_fault; }

private:
    pugi::xml_node m_node;
    std::string m_where;
    std::string m_fault;
};

int lineOf(const char* data, size_t size, ptrdiff_t offset)
{
    if (offset < 0 || size_t(offset) > size)
        return 0;
    return 1 + int(std::count(data, data + offset, '\n'));
}

void checkCommon(Attributes* attributes, uint32_t sectorSize, const std::string& startSector)
{
    const bool powerOfTwo = sectorSize >= 512 && sectorSize <= 65536 && (sectorSize & (sectorSize - 1)) == 0;
    if (!powerOfTwo)
        attributes->fault("SECTOR_SIZE_IN_BYTES=\"" + std::to_string(sectorSize) + "\" is not a sector size");
    if (!isStartSector(startSector))
        attributes->fault("start_sector=\"" + startSector + "\" is neither a number nor NUM_DISK_SECTORS-N.");
}

bool program(pugi::xml_node node, const std::string& where, int line, FlashXmlFile* out, std::string* why)
{
    Attributes attributes(node, where);
    ProgramEntry entry;
    entry.sectorSize = attributes.number<uint32_t>("SECTOR_SIZE_IN_BYTES", true);
    entry.fileSectorOffset = attributes.number<uint64_t>("file_sector_offset", false);
    entry.filename = attributes.text("filename");
    entry.label = attributes.text("label");
    entry.numSectors = attributes.number<uint64_t>("num_partition_sectors", false);
    entry.partition = attributes.number<uint32_t>("physical_partition_number", false);
    entry.startSector = attributes.text("start_sector", true);
    entry.sparse = attributes.flag("sparse");
    entry.line = line;
    checkCommon(&attributes, entry.sectorSize, entry.startSector);
    if (entry.filename.find('\0') != std::string::npos)
        attributes.fault("filename contains a NUL");
    if (!attributes.faultText().empty()) {
        *why = attributes.faultText();
        return false;
    }
    out->programs.push_back(std::move(entry));
    return true;
}

bool patch(pugi::xml_node node, const std::string& where, int line, FlashXmlFile* out, std::string* why)
{
    Attributes attributes(node, where);
    PatchEntry entry;
    entry.sectorSize = attributes.number<uint32_t>("SECTOR_SIZE_IN_BYTES", true);
    entry.byteOffset = attributes.number<uint64_t>("byte_offset", true);
    entry.filename = attributes.text("filename", true);
    entry.partition = attributes.number<uint32_t>("physical_partition_number", false);
    entry.sizeInBytes = attributes.number<uint32_t>("size_in_bytes", true);
    entry.startSector = attributes.text("start_sector", true);
    entry.value = attributes.text("value", true);
    entry.what = attributes.text("what");
    entry.line = line;
    if (entry.forDevice()) {
        checkCommon(&attributes, entry.sectorSize, entry.startSector);
        if (entry.sizeInBytes == 0 || entry.sizeInBytes > 8)
            attributes.fault("size_in_bytes=\"" + std::to_string(entry.sizeInBytes) + "\" is not 1 to 8");
    }
    if (!attributes.faultText().empty()) {
        *why = attributes.faultText();
        return false;
    }
    out->patches.push_back(std::move(entry));
    return true;
}

} // namespace

bool FlashXmlFile::parse(const char* data, size_t size, const std::string& name, FlashXmlFile* out, std::string* why)
{
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(data, size, kParseOptions);
    if (!parsed) {
        *why = name + ":" + std::to_string(lineOf(data, size, parsed.offset)) + ": " + parsed.description();
        return false;
    }
    // rawprogram files have a <data> root, patch files as the layout tools
    // write them a <patches> one; either may hold either kind of entry.
    pugi::xml_node root = document.child("data");
    if (!root)
        root = document.child("patches");
    if (!root) {
        *why = name + ": no <data> or <patches> element";
        return false;
    }
    FlashXmlFile file;
    for (pugi::xml_node node : root.children()) {
        if (node.type() != pugi::node_element)
            continue;
        const int line = lineOf(data, size, node.offset_debug());
        const std::string where = name + ":" + std::to_string(line);
        const std::string element = node.name();
        if (element == "program" && !program(node, where, line, &file, why))
            return false;
        if (element == "patch" && !patch(node, where, line, &file, why))
            return false;
    }
    *out = std::move(file);
    return true;
}

bool FlashXmlFile::read(const std::string& path, const std::string& name, FlashXmlFile* out, std::string* why)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size > kMaxFileSize) {
        *why = name + ": larger than " + std::to_string(kMaxFileSize / (1024 * 1024)) + " MiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (error || !in) {
        *why = name + ": cannot be read";
        return false;
    }
    std::string data;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *why = name + ": read error";
        return false;
    }
    return parse(data.data(), data.size(), name, out, why);
}

} // namespace modem
