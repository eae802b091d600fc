#pragma once

// CGI requests to H.264 cameras ("/cgi-bin/CGIProxy.fcgi?usr=..&pwd=..&cmd=..") and readers for
// their XML answers. Used by the control thread (queries) and the PTZ thread (moves).
//
// The request helpers run on the calling thread and use the given parser's socket for the whole
// call; the parser can be cancelled from another thread with userQuit. The reply readers are pure
// functions of the body text: any bytes are accepted, missing or malformed values give the
// documented defaults.

#include "zqnet/CHttpParser.h"
#include "zqnet/zqtypes.h"

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zq::cgi {

// resultCode of an answer without a readable <result> (0 means success, negatives are the
// camera's own errors, so neither can stand for "missing").
inline constexpr int kNoResult = INT_MIN;

inline constexpr size_t kNameBytes = 256;   // one cruise-map or preset name slot, NUL included
inline constexpr size_t kCruiseMaps = 8;    // map0..map7
inline constexpr size_t kPresetPoints = 16; // point0..point15
inline constexpr size_t kMaxSnapshotPath = 255;

// Answer waits, in rounds of httpResponse.
inline constexpr int kReplyRounds = 300;
inline constexpr int kImageSettingRounds = 1000;

// "usr=<user>&pwd=<password>&cmd=<command>": user and password encoded as single values, the
// command text encoded with its own '&' and '=' kept (it carries the command's parameters).
std::string buildQuery(const DEVICE_PARAM& device, std::string_view command);
// "/cgi-bin/CGIProxy.fcgi?" + buildQuery(...).
std::string cgiPath(const DEVICE_PARAM& device, std::string_view command);

// One GET on a fresh socket of `parser`, closed again before returning. Returns the last step's
// code: 15 or 11 mean `body` (when given) holds the answer; any other code leaves it empty.
int get(CHttpParser& parser, const char* connectHost, uint16_t connectPort,
        const std::string& hostHeader, const std::string& path, int rounds, std::string* body);

// A CGI command to device.host:httpPort with host header "host:httpPort".
int command(CHttpParser& parser, const DEVICE_PARAM& device, std::string_view cmd, int rounds,
            std::string* body);

// A file the camera named in an answer (the snapshot picture): GET "/<path>" on
// device.host:httpPort with host header "host:httpPort".
int fetch(CHttpParser& parser, const DEVICE_PARAM& device, std::string_view path, int rounds,
          std::string* body);

// The PTZ form: connect to host:httpPort with host header "host:port" (the low 16 bits of
// `port`), send the request, close without reading the answer. Returns 15 when it was sent.
int sendOnly(CHttpParser& parser, const DEVICE_PARAM& device, std::string_view cmd);

// <result> as an integer, kNoResult when absent or not XML.
int resultCode(std::string_view body);

// Picture path of a "snapPicture" answer: the text between "<img src=\"" and "\"/>", less its
// first three characters (the camera writes "../"). Refused (nullopt) when either mark is missing,
// when the path is empty, longer than kMaxSnapshotPath, contains "..", or holds characters that
// cannot go into a request line (controls, blanks).
std::optional<std::string> snapshotPath(std::string_view body);

// brightness, contrast, hue, saturation, sharpness; each clamped to 0..255, missing → 0.
std::array<uint8_t, 5> imageSettings(std::string_view body);
// isMirror, isFlip; missing → 0.
std::pair<int, int> mirrorFlip(std::string_view body);
// streamType; missing → 0.
int mainStreamType(std::string_view body);

// kCruiseMaps × kNameBytes bytes: map0..map7, each NUL-padded, truncated to 255 bytes.
std::vector<char> cruiseMapList(std::string_view body);
// kPresetPoints × kNameBytes bytes: point0..point15, each NUL-padded, truncated to 255 bytes.
std::vector<char> presetPointList(std::string_view body);

// atoi without undefined behaviour: leading blanks, sign, digits; saturates at the int range;
// no digits → 0.
int toInt(std::string_view text);

} // namespace zq::cgi
