#pragma once

#include "SigleDevice.h"

#include <memory>

namespace Device {

// The session for a camera's class code: 16 MJPEG, 17 H.264, 19 the second H.264 kind; null for
// any other code. (Model 18 is made with 16 and then given its model code.)
std::unique_ptr<CSigleDevice> createDevice(DeviceEnvironment& environment, int16_t* paneCell,
                                           int classCode);

} // namespace Device
