#pragma once

#include <memory>
#include <string>

namespace Parse {

// Reads one XML answer of a camera and returns the text of named elements.
// Answers look like "<CGI_Result><result>0</result><brightness>50</brightness></CGI_Result>";
// GetValue finds the first element of that name at any depth.
class CXMLParse {
public:
    CXMLParse();
    ~CXMLParse();
    CXMLParse(const CXMLParse&) = delete;
    CXMLParse& operator=(const CXMLParse&) = delete;

    // Parses `length` bytes (the text need not be NUL-terminated). False when it is not
    // well-formed XML; earlier content is discarded either way.
    bool ParseData(const char* data, size_t length);
    // Text of the first element called `name`; empty when absent.
    std::string GetValue(const char* name) const;
    // Same, with a found flag for callers that must tell empty from missing.
    bool GetValue(const char* name, std::string& value) const;

private:
    struct Document;
    std::unique_ptr<Document> m_document;
};

} // namespace Parse
