#include "parsix/UrlEncode.h"

namespace Parse {

namespace {

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::string encode(std::string_view text, bool keepSeparators) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (unreserved(c) || (keepSeparators && (c == '=' || c == '&'))) {
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
