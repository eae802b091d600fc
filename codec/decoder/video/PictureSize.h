#pragma once

namespace vidora {

// A picture size as a stream announces it; zero means the stream did not tell.
struct PictureSize {
    int width = 0;
    int height = 0;

    bool known() const { return width > 0 && height > 0; }
    bool operator==(const PictureSize&) const = default;
};

// Larger sizes in a header are damage, not pictures.
constexpr int kMaxPictureSide = 16384;

} // namespace vidora
