#include "db/SqlText.h"

#include <cstdarg>
#include <cstdio>

namespace db {

std::string sqlQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    return out;
}

std::string sqlFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<size_t>(length));
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    va_end(args);
    return out;
}

std::string sqlOrClauses(const char* column, const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& value : values) {
        if (!out.empty())
            out += " or ";
        out += column;
        out += "='";
        out += sqlQuoted(value);
        out += '\'';
    }
    return out;
}

} // namespace db
