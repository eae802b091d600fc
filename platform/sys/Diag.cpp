#include "sys/Diag.h"

#include <cstdarg>
#include <cstdio>

namespace sys {

void diag(const char* fmt, ...) {
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    std::fprintf(stderr, "[vistaro] %s\n", line);
}

} // namespace sys
