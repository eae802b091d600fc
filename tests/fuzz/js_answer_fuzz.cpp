// The MJPEG camera's CGI answers are read as JavaScript variables; any body must be read
// without overrun, and the record must stay within its bounds.

#include "device/mjpeg/JsAnswer.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    for (const char* name : {"resolution", "brightness", "contrast", "mode", "flip", "powerfreq"})
        (void)zq::mjpeg::jsValue(body, name);
    const auto camera = zq::mjpeg::cameraParams(body, zq::mjpeg::ParamForm::Camera);
    const auto generic = zq::mjpeg::cameraParams(body, zq::mjpeg::ParamForm::Generic);
    if (camera[6] > 1 || camera[7] > 1 || generic[6] > 1 || generic[7] > 1)
        __builtin_trap();
    return 0;
}
