#pragma once

#include <cstdint>
#include <vector>

namespace camsim {

// A planar YUV 4:2:0 picture (even width and height).
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y; // width × height
    std::vector<uint8_t> u; // width/2 × height/2
    std::vector<uint8_t> v;
};

// The camera's test picture for frame `index`: a diagonal gradient and a box that both move with
// the frame, and the frame index itself in large seven-segment digits at the top left, so a
// viewer (or a decoder in a test) can tell which frame it is looking at.
Picture drawTestPicture(int width, int height, int index);

// Geometry of the digit row, shared with tests that read the digits back from a decoded picture.
struct DigitLayout {
    int digits = 6;
    int left = 0;   // x of the first digit cell
    int top = 0;    // y of the digit cells
    int width = 0;  // one digit's width
    int height = 0; // one digit's height (twice the width)
    int stroke = 0; // segment thickness
    int pitch = 0;  // distance between digit cells
};
DigitLayout digitLayout(int width, int height);

} // namespace camsim
