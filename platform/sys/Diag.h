#pragma once

namespace sys {

// Diagnostic line on standard error for conditions a developer must see (a thread that overran
// its stop wait, an impossible state). Not the application log, which the client keeps itself.
void diag(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Trace text for whoever debugs the process: written to standard error as given (no newline
// added) only when VISTARO_DEBUG is set in the environment, and dropped otherwise.
void debugOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace sys
