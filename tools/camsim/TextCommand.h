#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace camsim {

class CameraCore;

// Answers a text command (packet 114) that arrived on a logged-in control channel. The text is
// a CGI query ("cmd=setBrightness&brightness=60&usr=admin&pwd=admin") and runs through the same
// model as the web port's CGI, so both paths see and change one state:
//   snapPicture      → packet 116 carrying the JPEG of a fresh snapshot
//   anything else    → packet 115 carrying an HTTP-style head and the model's XML answer
// A failed snapshot is answered with 115 and the model's error document. Nullopt when the
// payload is no usable text (no NUL, longer than kMaxTextCommandBytes, broken escapes); that is
// counted as a protocol error and left unanswered, as the camera's firmware does.
std::optional<std::vector<uint8_t>> answerTextCommand(CameraCore& core,
                                                      const std::vector<uint8_t>& payload);

} // namespace camsim
