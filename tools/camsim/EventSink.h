#pragma once

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

namespace camsim {

// What a simulated camera tells its console: one line per event, printf-style.
using EventSink = std::function<void(const std::string&)>;

__attribute__((format(printf, 2, 0))) inline void emitEvent(const EventSink& sink, const char* format,
                                                         va_list args) {
    if (!sink)
        return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    sink(line);
}

} // namespace camsim
