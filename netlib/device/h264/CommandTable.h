#pragma once

#include <cstdint>
#include <string>

// How zq_net_setcommand codes become CGI command texts for an H.264 camera.
namespace zq::h264 {

// Command 12 with a move code 0-9 or 18: the CGI name of the move, else null.
const char* ptzMoveName(int moveCode);
bool isPtzMove(int code);
// Command 12 codes that "ctrl_thread" answers with a query of its own.
bool isControlQuery(int code);

// The CGI command text for a setting command (31-66), or empty when the command has none.
// Commands that name a preset or cruise take a NUL-terminated string at `param1`; at most
// 255 bytes of it are read.
std::string cgiCommandText(int command, intptr_t param1, intptr_t param2);

} // namespace zq::h264
