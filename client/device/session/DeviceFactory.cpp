#include "DeviceFactory.h"

#include "H264Device.h"
#include "MJDevice.h"

namespace Device {

std::unique_ptr<CSigleDevice> createDevice(DeviceEnvironment& environment, int16_t* paneCell,
                                           int classCode) {
    switch (classCode) {
    case kClassMjpeg:
        return std::make_unique<CMJDevice>(environment, paneCell);
    case kClassH264:
        return std::make_unique<CH264Device>(environment, paneCell);
    case kClassHx:
        return std::make_unique<CHXDevice>(environment, paneCell);
    default:
        return nullptr;
    }
}

} // namespace Device
