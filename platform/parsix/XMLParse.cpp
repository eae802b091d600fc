#include "parsix/XMLParse.h"

#include <pugixml.hpp>

namespace Parse {

struct CXMLParse::Document {
    pugi::xml_document xml;
    bool valid = false;
};

CXMLParse::CXMLParse() : m_document(std::make_unique<Document>()) {}
CXMLParse::~CXMLParse() = default;

bool CXMLParse::ParseData(const char* data, size_t length) {
    m_document->xml.reset();
    m_document->valid = false;
    if (!data)
        return false;
    const auto result =
        m_document->xml.load_buffer(data, length, pugi::parse_default, pugi::encoding_utf8);
    m_document->valid = static_cast<bool>(result);
    return m_document->valid;
}

bool CXMLParse::GetValue(const char* name, std::string& value) const {
    value.clear();
    if (!m_document->valid || !name)
        return false;
    const pugi::xml_node node = m_document->xml.find_node(
        [name](const pugi::xml_node& n) { return std::string_view(n.name()) == name; });
    if (!node)
        return false;
    value = node.child_value();
    return true;
}

std::string CXMLParse::GetValue(const char* name) const {
    std::string value;
    GetValue(name, value);
    return value;
}

} // namespace Parse
