#pragma once

#include "sys/WinTypes.h"

#include <QPixmap>

#include <optional>
#include <string>

namespace DuiLib {

// An image as skins and programs name it: a plain file name, or
// "file='x.png' dest='l,t,r,b' source='l,t,r,b'": the `source` rectangle of the file (a sprite
// sheet cell) drawn into `dest`.
struct SkinImage {
    std::string file;
    std::optional<RECT> dest;
    std::optional<RECT> source;
};

// Null when the text names no file or a rectangle is malformed.
std::optional<SkinImage> parseSkinImage(const std::string& text);

// The pixmap for `parsed` from `folder`: the source cell cut out and scaled to the dest size.
// A null pixmap when the file cannot be read.
QPixmap loadImage(const SkinImage& parsed, const std::string& folder);

} // namespace DuiLib
