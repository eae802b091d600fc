#include "UrlQuery.h"

namespace camsim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::optional<CgiParams> parseQuery(std::string_view query) {
    CgiParams params;
    size_t count = 0;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        if (++count > kMaxQueryParams) {
            return std::nullopt;
        }
        const size_t eq = pair.find('=');
        auto name = percentDecode(pair.substr(0, eq));
        auto value =
            percentDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
        if (!name || !value) {
            return std::nullopt;
        }
        params.emplace(std::move(*name), std::move(*value));
    }
    return params;
}

} // namespace camsim
