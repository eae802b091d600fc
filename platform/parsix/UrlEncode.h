#pragma once

#include <string>
#include <string_view>

namespace Parse {

// Percent-encodes everything but the unreserved characters of RFC 3986 (letters, digits, "-._~")
// and the separators of a CGI query ('=' and '&'), which the camera splits on. Escapes already
// in the text ("%26") are kept, so values encoded with url_encode_component are not encoded
// twice; a '%' that starts no escape is encoded.
std::string url_encode(std::string_view text);

// Same, but '=' and '&' are encoded too: for one value placed inside a query (a user name or a
// password), so that its characters cannot start a new parameter.
std::string url_encode_component(std::string_view text);

} // namespace Parse
