#pragma once

#include "CgiModel.h"

#include <optional>
#include <string>
#include <string_view>

namespace camsim {

// Decodes %XX escapes. '+' stays '+': clients of this camera percent-encode spaces. Null for a
// broken escape or an encoded NUL, which no parameter may contain.
std::optional<std::string> percentDecode(std::string_view text);

// Splits "k=v&k=v" into decoded parameters; the first occurrence of a name wins. Null when an
// escape is broken or there are more than kMaxQueryParams parameters.
inline constexpr size_t kMaxQueryParams = 64;
std::optional<CgiParams> parseQuery(std::string_view query);

} // namespace camsim
