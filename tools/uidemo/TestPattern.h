#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Moving I420 test pictures that look like a camera's view: a sky-to-ground gradient tinted per
// camera, a textured ground and a vehicle crossing the scene.
class TestPattern {
public:
    TestPattern(int camera, int width, int height);

    // The picture at `frame`; planes stay valid until the next call.
    void render(int frame);
    const uint8_t* y() const { return planes_.data(); }
    const uint8_t* u() const { return planes_.data() + lumaSize(); }
    const uint8_t* v() const { return u() + chromaSize(); }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    size_t lumaSize() const { return static_cast<size_t>(width_) * height_; }
    size_t chromaSize() const { return static_cast<size_t>(width_ / 2) * (height_ / 2); }

    const int camera_;
    const int width_;
    const int height_;
    std::vector<uint8_t> background_; // luma without the vehicle
    std::vector<uint8_t> planes_;
};
