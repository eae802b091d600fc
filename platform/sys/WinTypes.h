#pragma once

// The few window-system value types the programs' interfaces speak in: rectangles and points in
// pixels, window handles and message parameters. Message parameters are pointer-sized so a
// pointer passed in one survives a 64-bit build.

#include <cstdint>

using HWND = uintptr_t; // native window id where the windowing system has one, else a unique id
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT = unsigned int;
using DWORD = uint32_t;
using COLORREF = uint32_t; // 0x00BBGGRR

struct RECT {
    long left = 0;
    long top = 0;
    long right = 0;
    long bottom = 0;

    long width() const { return right - left; }
    long height() const { return bottom - top; }
    bool operator==(const RECT&) const = default;
};

struct POINT {
    long x = 0;
    long y = 0;
    bool operator==(const POINT&) const = default;
};

struct SIZE {
    long cx = 0;
    long cy = 0;
    bool operator==(const SIZE&) const = default;
};
