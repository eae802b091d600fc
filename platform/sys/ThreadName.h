#pragma once

namespace sys {

// Names the calling thread for debuggers and `top -H`. Linux keeps at most 15 characters.
void setCurrentThreadName(const char* name);

} // namespace sys
