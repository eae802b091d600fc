#include "SyntheticPicture.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 235;

// Segments a..g of a seven-segment display, bit 0 = a (top), clockwise, g = middle.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void fillY(Picture& picture, int x0, int y0, int w, int h, uint8_t value) {
    const int x1 = std::min(picture.width, x0 + w);
    const int y1 = std::min(picture.height, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        std::fill(picture.y.begin() + y * picture.width + std::max(0, x0),
                  picture.y.begin() + y * picture.width + x1, value);
    }
}

void drawDigit(Picture& picture, const DigitLayout& layout, int x, int digit) {
    const int w = layout.width;
    const int h = layout.height;
    const int s = layout.stroke;
    const int top = layout.top;
    const int mid = top + (h - s) / 2;
    const int bottom = top + h - s;
    const int halfH = h / 2;
    const uint8_t bits = kSegments[digit];
    if (bits & 0x01) { // a
        fillY(picture, x, top, w, s, kWhite);
    }
    if (bits & 0x02) { // b
        fillY(picture, x + w - s, top, s, halfH, kWhite);
    }
    if (bits & 0x04) { // c
        fillY(picture, x + w - s, top + halfH, s, h - halfH, kWhite);
    }
    if (bits & 0x08) { // d
        fillY(picture, x, bottom, w, s, kWhite);
    }
    if (bits & 0x10) { // e
        fillY(picture, x, top + halfH, s, h - halfH, kWhite);
    }
    if (bits & 0x20) { // f
        fillY(picture, x, top, s, halfH, kWhite);
    }
    if (bits & 0x40) { // g
        fillY(picture, x, mid, w, s, kWhite);
    }
}

} // namespace

DigitLayout digitLayout(int width, int height) {
    DigitLayout layout;
    layout.width = std::max(8, std::min(width / 20, height / 10));
    layout.height = 2 * layout.width;
    layout.stroke = std::max(2, layout.width / 5);
    layout.pitch = layout.width + layout.width / 2;
    layout.left = layout.width / 2;
    layout.top = layout.width / 2;
    return layout;
}

Picture drawTestPicture(int width, int height, int index) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.y.resize(static_cast<size_t>(width) * height);
    picture.u.resize(static_cast<size_t>(width / 2) * (height / 2));
    picture.v.resize(picture.u.size());

    const int shift = index * 4;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture.y.data() + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            row[x] = static_cast<uint8_t>(kBlack + ((x + y + shift) & 0xFF) * 7 / 10);
        }
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            const size_t at = static_cast<size_t>(y) * (width / 2) + x;
            picture.u[at] = static_cast<uint8_t>(64 + (x * 128) / (width / 2));
            picture.v[at] = static_cast<uint8_t>(64 + (y * 128) / (height / 2));
        }
    }

    // A box crossing the picture, below the digit row.
    const int box = height / 6;
    const int travel = std::max(1, width - box);
    const int boxX = (index * 8) % travel;
    fillY(picture, boxX, height / 2, box, box, 200);

    const DigitLayout layout = digitLayout(width, height);
    const int panelWidth = std::min(width, layout.left + layout.digits * layout.pitch);
    const int panelHeight = std::min(height, layout.top * 2 + layout.height);
    fillY(picture, 0, 0, panelWidth, panelHeight, kBlack);
    // Grey digits on grey: the counter reads the same in any colour conversion.
    for (int y = 0; y < panelHeight / 2; ++y) {
        const size_t row = static_cast<size_t>(y) * (width / 2);
        std::fill(picture.u.begin() + row, picture.u.begin() + row + panelWidth / 2, 128);
        std::fill(picture.v.begin() + row, picture.v.begin() + row + panelWidth / 2, 128);
    }
    int value = index < 0 ? 0 : index;
    for (int i = layout.digits - 1; i >= 0; --i) {
        drawDigit(picture, layout, layout.left + i * layout.pitch, value % 10);
        value /= 10;
    }
    return picture;
}

} // namespace camsim
