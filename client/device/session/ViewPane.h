#pragma once

#include <atomic>
#include <cstdint>

namespace Device {

// The live-grid pane a camera is shown in, kept with the camera's node of the device tree.
// The session writes the state; the tree reads it and resolves `treeId` to the node when the
// session reports a change.
struct ViewPane {
    enum State : int { kPlaying = 140, kClosed = 32 };

    int16_t paneId = 0;
    std::atomic<int> state{kClosed};
    intptr_t treeId = 0;
};

} // namespace Device
