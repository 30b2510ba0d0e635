#pragma once
// GBK text (the program's ANSI code page) to Unicode code points.

#include <cstddef>
#include <string>

namespace glaze {

// Decodes up to `size` bytes, stopping at the first zero byte. A byte sequence that
// is not GBK becomes U+FFFD and decoding goes on after it; nothing is read beyond
// `size`.
std::u32string DecodeGbk(const char* text, std::size_t size);

}  // namespace glaze
