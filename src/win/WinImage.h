// Pictures through Windows' own image codecs (WIC, windowscodecs).
#pragma once
#include <string>

namespace sk::win {

// A picture of 32-bit pixels (blue, green, red, unused; rows top-down,
// `stride` bytes apart) as the bytes of a PNG file. Throws
// std::runtime_error naming the failing step and its HRESULT.
std::string EncodePng(const void* pixels, int width, int height, int stride);

}  // namespace sk::win
