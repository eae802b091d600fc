#include "device/mjpeg/JsAnswer.h"

#include <algorithm>
#include <climits>

namespace zq::mjpeg {

namespace {

constexpr size_t kMaxDigits = 10;

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

uint8_t clampByte(long long value) {
    return static_cast<uint8_t>(std::clamp<long long>(value, 0, 255));
}

} // namespace

std::optional<int> jsValue(std::string_view body, std::string_view name) {
    if (name.empty())
        return std::nullopt;
    size_t from = 0;
    for (;;) {
        const size_t at = body.find(name, from);
        if (at == std::string_view::npos)
            return std::nullopt;
        from = at + 1;
        const size_t equals = at + name.size();
        if ((at > 0 && isNameChar(body[at - 1])) || equals >= body.size() || body[equals] != '=')
            continue;
        size_t i = equals + 1;
        if (i < body.size() && (body[i] == '"' || body[i] == '\''))
            continue; // a text value, not a number
        bool negative = false;
        if (i < body.size() && body[i] == '-') {
            negative = true;
            ++i;
        }
        long long value = 0;
        size_t digits = 0;
        for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) {
            if (++digits > kMaxDigits)
                break;
            value = value * 10 + (body[i] - '0');
        }
        if (digits == 0 || digits > kMaxDigits || i >= body.size() || body[i] != ';')
            continue;
        value = negative ? -value : value;
        return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
    }
}

std::array<uint8_t, 8> cameraParams(std::string_view body, ParamForm form) {
    std::array<uint8_t, 8> record{};
    auto value = [&](std::string_view name) -> long long {
        return jsValue(body, name).value_or(0);
    };
    record[0] = clampByte(value("resolution"));
    record[2] = clampByte(value("contrast"));
    if (form == ParamForm::Camera) {
        record[1] = clampByte(value("brightness"));
        record[3] = clampByte(value("mode"));
    } else {
        record[1] = clampByte(value("brightness") * 16);
        record[3] = clampByte(value("powerfreq"));
    }
    const long long flip = value("flip");
    record[6] = (flip & 1) ? 1 : 0;
    record[7] = (flip & 2) ? 1 : 0;
    return record;
}

} // namespace zq::mjpeg
