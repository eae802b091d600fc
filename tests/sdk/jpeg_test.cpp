// JpegToRGB on pictures from an independent encoder (FFmpeg's, through the simulator), pictures
// that must be refused, and the library's export table.

#include "Heap.h"
#include "camsim/JpegEncoder.h"
#include "moltrex/moltrex.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

// 64 x 48: the top half red, the bottom half blue, in full-range YCbCr.
Bytes twoColourJpeg() {
    camsim::Picture picture;
    picture.width = 64;
    picture.height = 48;
    picture.y.resize(64 * 48);
    picture.u.resize(32 * 24);
    picture.v.resize(32 * 24);
    for (int y = 0; y < 48; ++y) {
        const bool top = y < 24;
        std::fill_n(picture.y.begin() + y * 64, 64, top ? 76 : 29);
        if (y % 2 == 0) {
            std::fill_n(picture.u.begin() + (y / 2) * 32, 32, top ? 85 : 255);
            std::fill_n(picture.v.begin() + (y / 2) * 32, 32, top ? 255 : 107);
        }
    }
    return camsim::encodeJpeg(picture);
}

struct Decoded {
    int ok = 0;
    uint8_t* rgb = nullptr;
    int width = -1;
    int height = -1;
    int bits = -1;
};

Decoded decode(const uint8_t* data, size_t size, int bottomUp = 0) {
    Decoded out;
    const MO_PICTURE picture{static_cast<uint32_t>(size), data};
    out.ok = JpegToRGB(&picture, &out.rgb, &out.width, &out.height, &out.bits, bottomUp);
    return out;
}

void expectPixel(const uint8_t* pixel, int r, int g, int b) {
    EXPECT_NEAR(pixel[0], r, 6);
    EXPECT_NEAR(pixel[1], g, 6);
    EXPECT_NEAR(pixel[2], b, 6);
}

TEST(JpegToRGB, DecodesIntoRedGreenBlueBytesInEitherRowOrder) {
    const Bytes jpeg = twoColourJpeg();
    ASSERT_FALSE(jpeg.empty());
    const size_t before = moltrex::heap::outstanding();
    const Decoded top = decode(jpeg.data(), jpeg.size(), 0);
    ASSERT_EQ(top.ok, 1);
    EXPECT_EQ(top.width, 64);
    EXPECT_EQ(top.height, 48);
    EXPECT_EQ(top.bits, 24);
    expectPixel(top.rgb, 255, 0, 0);                      // first row: red
    expectPixel(top.rgb + (47 * 64 + 63) * 3, 0, 0, 255); // last row: blue

    const Decoded bottom = decode(jpeg.data(), jpeg.size(), 1);
    ASSERT_EQ(bottom.ok, 1);
    expectPixel(bottom.rgb, 0, 0, 255); // a bottom-up picture starts with the bottom row
    expectPixel(bottom.rgb + (47 * 64) * 3, 255, 0, 0);
    EXPECT_EQ(std::memcmp(bottom.rgb, top.rgb + 47 * 64 * 3, 64 * 3), 0);

    EXPECT_EQ(moltrex::heap::outstanding(), before + 2);
    FreeMemory(top.rgb);
    FreeMemory(bottom.rgb);
    EXPECT_EQ(moltrex::heap::outstanding(), before);
}

TEST(JpegToRGB, RefusesWhatIsNotAWholePictureAndTouchesNoOutput) {
    const Bytes jpeg = twoColourJpeg();
    ASSERT_GT(jpeg.size(), 200u);
    const size_t before = moltrex::heap::outstanding();

    Bytes tooLarge = jpeg;
    // Start of frame (FFC0): precision, then height and width; 10000 x 10000 would take 300 MB.
    bool patched = false;
    for (size_t i = 0; i + 9 < tooLarge.size(); ++i) {
        if (tooLarge[i] == 0xFF && tooLarge[i + 1] == 0xC0) {
            tooLarge[i + 5] = 0x27;
            tooLarge[i + 6] = 0x10;
            tooLarge[i + 7] = 0x27;
            tooLarge[i + 8] = 0x10;
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    Bytes noise(2000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 131 + 7);

    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"noise", noise},
        {"cut in half",
         Bytes(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(jpeg.size() / 2))},
        {"larger than 8192 x 8192", tooLarge},
    };
    for (const Case& c : cases) {
        const Decoded result = decode(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(result.ok, 0) << c.what;
        EXPECT_EQ(result.rgb, nullptr) << c.what;
        EXPECT_EQ(result.width, -1) << c.what;
        EXPECT_EQ(result.bits, -1) << c.what;
    }
    uint8_t* rgb = nullptr;
    int width = 0;
    int height = 0;
    int bits = 0;
    EXPECT_EQ(JpegToRGB(nullptr, &rgb, &width, &height, &bits, 0), 0);
    const MO_PICTURE noData{100, nullptr};
    EXPECT_EQ(JpegToRGB(&noData, &rgb, &width, &height, &bits, 0), 0);
    const MO_PICTURE good{static_cast<uint32_t>(jpeg.size()), jpeg.data()};
    EXPECT_EQ(JpegToRGB(&good, nullptr, &width, &height, &bits, 0), 0);
    EXPECT_EQ(JpegToRGB(&good, &rgb, &width, nullptr, &bits, 0), 0);
    EXPECT_EQ(moltrex::heap::outstanding(), before) << "nothing left allocated by a refusal";
}

TEST(SharedLibrary, ExportsEveryCallAndNeedsNoOtherDeliverable) {
    void* library = dlopen(MOLTREX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name :
         {"SearchCamera",    "InitCamera",        "MgrConnect",      "MgrDisconnect",
          "GetCameraParams", "SetCameraParams",   "GetTime",         "SetTime",
          "UpgradeSysWare",  "UpgradeAppWare",    "Reboot",          "SetDefaultConfig",
          "GetNet2Params",   "SetNet2Params",     "GetDDNSStatus",   "RestartDynDns",
          "MonitorConnect",  "MonitorDisconnect", "PlayVideo",       "StopVideo",
          "PlayAudio",       "StopAudio",         "SetMaxVideoRate", "SensorControl",
          "DecoderControl",  "SetSoundOn",        "SetSoundOff",     "GetVolume",
          "SetVolume",       "JpegToRGB",         "FreeMemory"})
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    // Its own internals stay inside.
    EXPECT_EQ(dlsym(library, "_ZN7moltrex4heap11outstandingEv"), nullptr);

    // A call through the loaded library itself: an 11-character id is refused there too.
    using Connect = int16_t (*)(const char*, const char*, const char*, uint32_t, uint16_t,
                                MO_WINDOW, MO_THREAD, MO_CALLBACK);
    auto connect = reinterpret_cast<Connect>(dlsym(library, "MgrConnect"));
    ASSERT_NE(connect, nullptr);
    EXPECT_EQ(connect("00A1B2C3D4E", "admin", "admin", 0x7F000001, 80, 0, 0,
                      [](unsigned, MO_WPARAM, MO_LPARAM) {}),
              MO_ERR_PARAM);

    std::ifstream maps("/proc/self/maps");
    const std::string mapped((std::istreambuf_iterator<char>(maps)), {});
    EXPECT_NE(mapped.find("libmoltrex.so"), std::string::npos);
    EXPECT_EQ(mapped.find("libzqnet"), std::string::npos);
    EXPECT_EQ(mapped.find("libvidora"), std::string::npos);
    dlclose(library);
}

} // namespace
