#pragma once

// Helpers shared by the surfaces and the views.

#include "sys/WinTypes.h"

#include <QImage>
#include <QRect>

#include <cstdint>

namespace videodetail {

constexpr int kMaxSide = 8192;

// The look of the views: a dark background, thin dark-grey borders, an accent on the selection.
constexpr uint32_t kBackground = 0xff101216;
constexpr uint32_t kBorder = 0xff2a2f37;
constexpr uint32_t kAccent = 0xff2f8cff;
constexpr uint32_t kLabelNumber = 0xff6b7480;
constexpr uint32_t kLabelText = 0xff8c94a0;

bool sizeInRange(int width, int height);
// 0x00BBGGRR to the 0xffRRGGBB of QImage::Format_RGB32.
uint32_t rgbOf(COLORREF colour);
// Copies `height` rows of `width` bytes between planes of different strides.
void copyPlane(const uint8_t* from, int fromStride, uint8_t* to, int toStride, int width,
               int height);
// Copies a block of 32-bit pixels.
void copyPixels(const uchar* from, qsizetype fromStride, uchar* to, qsizetype toStride, int width,
                int height);

inline QRect toQRect(const RECT& rect) {
    return QRect(static_cast<int>(rect.left), static_cast<int>(rect.top),
                 static_cast<int>(rect.width()), static_cast<int>(rect.height()));
}

} // namespace videodetail
