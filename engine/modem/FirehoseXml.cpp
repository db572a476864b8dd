#include "FirehoseXml.h"

#include <pugixml.hpp>

#include <cctype>
#include <sstream>
#include <string_view>

namespace modem {

namespace {

// Options for everything read from outside: no DOCTYPE (so no entities of
// its own), only the five predefined escapes and character references.
constexpr unsigned kParseOptions = pugi::parse_default & ~pugi::parse_doctype;

std::string text(const pugi::xml_document& document)
{
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";
    document.save(out, "", pugi::format_raw | pugi::format_no_declaration);
    return out.str();
}

pugi::xml_node command(pugi::xml_document* document, const char* name)
{
    return document->append_child("data").append_child(name);
}

bool allDigits(std::string_view text)
{
    if (text.empty() || text.size() > 19)
        return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

} // namespace

std::string FirehoseCommand::configure(const std::string& memoryName, uint64_t maxPayload)
{
    pugi::xml_document document;
    pugi::xml_node node = command(&document, "configure");
    node.append_attribute("MemoryName") = memoryName.c_str();
    node.append_attribute("MaxPayloadSizeToTargetInBytes") = std::to_string(maxPayload).c_str();
    node.append_attribute("Verbose") = "0";
    node.append_attribute("ZlpAwareHost") = "1";
    node.append_attribute("SkipStorageInit") = "0";
    return text(document);
}

std::string FirehoseCommand::program(const ProgramEntry& entry, uint64_t numSectors)
{
    pugi::xml_document document;
    pugi::xml_node node = command(&document, "program");
    node.append_attribute("SECTOR_SIZE_IN_BYTES") = std::to_string(entry.sectorSize).c_str();
    node.append_attribute("num_partition_sectors") = std::to_string(numSectors).c_str();
    node.append_attribute("physical_partition_number") = std::to_string(entry.partition).c_str();
    node.append_attribute("start_sector") = entry.startSector.c_str();
    if (!entry.label.empty())
        node.append_attribute("label") = entry.label.c_str();
    if (!entry.filename.empty())
        node.append_attribute("filename") = entry.filename.c_str();
    return text(document);
}

std::string FirehoseCommand::patch(const PatchEntry& entry)
{
    pugi::xml_document document;
    pugi::xml_node node = command(&document, "patch");
    node.append_attribute("SECTOR_SIZE_IN_BYTES") = std::to_string(entry.sectorSize).c_str();
    node.append_attribute("byte_offset") = std::to_string(entry.byteOffset).c_str();
    node.append_attribute("filename") = entry.filename.c_str();
    node.append_attribute("physical_partition_number") = std::to_string(entry.partition).c_str();
    node.append_attribute("size_in_bytes") = std::to_string(entry.sizeInBytes).c_str();
    node.append_attribute("start_sector") = entry.startSector.c_str();
    node.append_attribute("value") = entry.value.c_str();
    return text(document);
}

std::string FirehoseCommand::power(const std::string& value)
{
    pugi::xml_document document;
    pugi::xml_node node = command(&document, "power");
    node.append_attribute("value") = value.c_str();
    return text(document);
}

std::string FirehoseReply::Response::attribute(const std::string& name) const
{
    const auto it = attributes.find(name);
    return it == attributes.end() ? std::string() : it->second;
}

bool FirehoseReply::parse(const char* data, size_t size, FirehoseReply* out, std::string* why)
{
    // A packet may hold several documents, each with its own declaration.
    const std::string_view all(data, size);
    std::vector<std::string_view> documents;
    size_t start = 0;
    while (start < all.size()) {
        size_t next = all.find("<?xml", start + 1);
        if (next == std::string_view::npos)
            next = all.size();
        documents.push_back(all.substr(start, next - start));
        start = next;
    }

    FirehoseReply reply;
    for (std::string_view piece : documents) {
        pugi::xml_document document;
        const pugi::xml_parse_result parsed = document.load_buffer(piece.data(), piece.size(), kParseOptions);
        if (!parsed) {
            *why = std::string("unreadable reply from the programmer: ") + parsed.description();
            return false;
        }
        bool any = false;
        for (pugi::xml_node root : document.children("data")) {
            any = true;
            for (pugi::xml_node node : root.children()) {
                if (node.type() != pugi::node_element)
                    continue;
                const std::string_view name = node.name();
                if (name == "log") {
                    reply.logs.emplace_back(node.attribute("value").value());
                } else if (name == "response") {
                    Response response;
                    for (pugi::xml_attribute attribute : node.attributes())
                        response.attributes[attribute.name()] = attribute.value();
                    response.ack = response.attribute("value") == "ACK";
                    response.rawMode = response.attribute("rawmode") == "true";
                    reply.responses.push_back(std::move(response));
                }
            }
        }
        if (!any) {
            *why = "reply from the programmer without <data>";
            return false;
        }
    }
    if (documents.empty()) {
        *why = "empty reply from the programmer";
        return false;
    }
    *out = std::move(reply);
    return true;
}

bool isStartSector(const std::string& text)
{
    if (allDigits(text))
        return true;
    constexpr std::string_view kPrefix = "NUM_DISK_SECTORS-";
    std::string_view rest(text);
    if (rest.substr(0, kPrefix.size()) != kPrefix)
        return false;
    rest.remove_prefix(kPrefix.size());
    if (!rest.empty() && rest.back() == '.')
        rest.remove_suffix(1);
    return allDigits(rest);
}

} // namespace modem
