#include "parsix/UrlEncode.h"

namespace Parse {

namespace {

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// A query text may hold values that were encoded on their own (a preset name with '&' in it):
// their escapes pass through once instead of being encoded again.
bool startsEscape(std::string_view text, size_t at) {
    return text[at] == '%' && at + 2 < text.size() && isHex(text[at + 1]) && isHex(text[at + 2]);
}

std::string encode(std::string_view text, bool keepSeparators) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t at = 0; at < text.size(); ++at) {
        const char ch = text[at];
        const auto c = static_cast<unsigned char>(ch);
        if (unreserved(c) || (keepSeparators && (c == '=' || c == '&' || startsEscape(text, at)))) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

} // namespace

std::string url_encode(std::string_view text) {
    return encode(text, true);
}

std::string url_encode_component(std::string_view text) {
    return encode(text, false);
}

} // namespace Parse
