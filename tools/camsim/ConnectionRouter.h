#pragma once

#include "Link.h"

#include <memory>

namespace sys {
class WorkerContext;
}

namespace camsim {

class CameraCore;

// Serves one accepted connection to its end, on the calling thread. On the web port every
// connection is HTTP. On the media port the first bytes decide: "GET " is HTTP (one-port mode
// only), a "SERVERPUSH ..." preface is skipped, and the first packet then picks the session:
// 12 control, 0 live media, 7 playback; text commands (114) before it are dropped. Anything else
// closes the connection.
void serveConnection(std::shared_ptr<Link> link, CameraCore& core, const sys::WorkerContext& worker,
                     bool webPort);

} // namespace camsim
