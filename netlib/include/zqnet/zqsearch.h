#pragma once

// LAN search: broadcasts a search request from every local IPv4 address in turn and hands each
// answer to the caller as it arrives.
//
// The callback runs on the library's search thread ("ZqSearch"), one call at a time. Never call
// zq_close_search from inside it.

#include "zqnet/zqexport.h"

#ifdef __cplusplus
struct SearchHandle;
#else
typedef struct SearchHandle SearchHandle;
#endif

// Kinds of SearchCallback calls.
enum {
    ZQ_SEARCH_CONTENT = 1,   // record = content of a "MO_I" reply, length = its size
    ZQ_SEARCH_RECORD = 3,    // record = the 1060-byte record of a second-format reply
    ZQ_SEARCH_PROGRESS = 100 // record = NULL, length = ms left over the whole search, 0 at the end
};

// Returning ZQ_SEARCH_STOP from a content or record call ends the search.
enum { ZQ_SEARCH_STOP = -4 };

// Size of a ZQ_SEARCH_RECORD record: int32 0x4D709AB4; four 256-byte zero-padded strings at
// offsets 4, 260, 516 and 772; eight int32 (as sent, little-endian) at offset 1028.
enum { ZQ_SEARCH_RECORD_BYTES = 1060 };

typedef int (*SearchCallback)(int kind, const void* record, int length, void* user);

// Starts the search thread at once: `listenMs` per local address; with `repeat` non-zero the
// request is sent every 5 s instead of once per address. Null when out of memory or with a null
// callback.
ZQ_API SearchHandle* ZQ_CALL zq_search_devices(SearchCallback callback, void* user, int listenMs,
                                               int repeat);
// Stops the search (waiting up to 500 ms for the thread) and frees the handle. No callback runs
// once this has returned. Safe on null.
ZQ_API void ZQ_CALL zq_close_search(SearchHandle* handle);
