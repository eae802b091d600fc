#include "Jpeg.h"

#include "Heap.h"

#include <turbojpeg.h>

#include <memory>

namespace moltrex {

namespace {

struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};

} // namespace

bool decodeJpeg(const uint8_t* data, size_t size, bool bottomUp, RgbPicture& out) {
    if (data == nullptr || size == 0 || size > 0xFFFFFFFFu)
        return false;
    const std::unique_ptr<void, TjDeleter> decoder(tjInitDecompress());
    if (!decoder)
        return false;
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(decoder.get(), data, static_cast<unsigned long>(size), &width, &height,
                            &subsampling, &colourspace) != 0)
        return false;
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        return false;
    const size_t pitch = static_cast<size_t>(width) * 3;
    auto* pixels = static_cast<uint8_t*>(heap::allocate(pitch * static_cast<size_t>(height)));
    if (pixels == nullptr)
        return false;
    const int flags = TJFLAG_ACCURATEDCT | (bottomUp ? TJFLAG_BOTTOMUP : 0);
    // A picture cut short decodes with a warning and grey rows; a camera picture lost on the way
    // must not pass as a good one, so warnings fail too.
    if (tjDecompress2(decoder.get(), data, static_cast<unsigned long>(size), pixels, width,
                      static_cast<int>(pitch), height, TJPF_RGB,
                      flags | TJFLAG_STOPONWARNING) != 0) {
        heap::release(pixels);
        return false;
    }
    out.pixels = pixels;
    out.width = width;
    out.height = height;
    return true;
}

} // namespace moltrex
