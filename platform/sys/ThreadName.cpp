#include "sys/ThreadName.h"

#include <pthread.h>

#include <cstring>

namespace sys {

void setCurrentThreadName(const char* name) {
    if (!name || !*name)
        return;
    char shortName[16] = {};
    std::strncpy(shortName, name, sizeof shortName - 1);
    pthread_setname_np(pthread_self(), shortName);
}

} // namespace sys
