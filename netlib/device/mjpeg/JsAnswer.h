#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// Answers of the MJPEG camera's CGI scripts: JavaScript assignments such as "var flip=3;".
// Pure functions of the body text; any bytes are accepted.
namespace zq::mjpeg {

inline constexpr std::string_view kFileNotFound = "File not found.";

// The value of `name` written as name=value ended by ';'. Only a whole name matches (so
// "flip" does not match "xflip"). Nullopt when the name is absent, the value is quoted (a text
// value), has no digits, has more than 10 digits, or is not ended by ';'. The value saturates
// at the int range.
std::optional<int> jsValue(std::string_view body, std::string_view name);

// Which parameter script answered.
enum class ParamForm { Camera, Generic };

// The 8-byte record of notice 27: byte 0 resolution, 1 brightness (the generic form's value is
// ×16), 2 contrast, 3 mode (generic form: power frequency), bytes 6-7 flip as two flags.
// Missing values are 0; every byte is clamped to 0..255.
std::array<uint8_t, 8> cameraParams(std::string_view body, ParamForm form);

} // namespace zq::mjpeg
