#include "TestPattern.h"

#include <algorithm>
#include <cstring>

TestPattern::TestPattern(int camera, int width, int height)
    : camera_(camera), width_(width), height_(height), background_(lumaSize()),
      planes_(lumaSize() + 2 * chromaSize()) {
    const int horizon = height_ * 11 / 20;
    for (int row = 0; row < height_; ++row) {
        for (int col = 0; col < width_; ++col) {
            int luma = 0;
            if (row < horizon) {
                luma = 150 - row * 60 / horizon; // sky, brighter at the top
            } else {
                const int depth = row - horizon;
                luma = 70 + depth * 50 / (height_ - horizon) + ((col / 24 + depth / 12) % 2) * 8;
            }
            background_[static_cast<size_t>(row) * width_ + col] = static_cast<uint8_t>(luma);
        }
    }
    // Each camera gets its own cast, like different lighting at different sites.
    const uint8_t cb = static_cast<uint8_t>(118 + (camera_ * 37) % 22);
    const uint8_t cr = static_cast<uint8_t>(120 + (camera_ * 53) % 18);
    std::memset(planes_.data() + lumaSize(), cb, chromaSize());
    std::memset(planes_.data() + lumaSize() + chromaSize(), cr, chromaSize());
}

void TestPattern::render(int frame) {
    std::memcpy(planes_.data(), background_.data(), lumaSize());
    const int boxWidth = width_ / 6;
    const int boxHeight = height_ / 9;
    const int travel = width_ + boxWidth;
    const int left = (frame * (3 + camera_ % 4) + camera_ * 97) % travel - boxWidth;
    const int top = height_ * 11 / 20 + (camera_ % 3) * boxHeight / 2 + boxHeight / 3;
    for (int row = std::max(0, top); row < std::min(height_, top + boxHeight); ++row) {
        uint8_t* line = planes_.data() + static_cast<size_t>(row) * width_;
        for (int col = std::max(0, left); col < std::min(width_, left + boxWidth); ++col) {
            const bool window = row < top + boxHeight / 2 && (col - left) % (boxWidth / 4) > 4;
            line[col] = window ? 60 : 210;
        }
    }
}
