#include "sys/Diag.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sys {

void diag(const char* fmt, ...) {
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    std::fprintf(stderr, "[vistaro] %s\n", line);
}

void debugOut(const char* fmt, ...) {
    static const bool enabled = std::getenv("VISTARO_DEBUG") != nullptr;
    if (!enabled)
        return;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
}

} // namespace sys
