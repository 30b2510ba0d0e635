#pragma once
// Text rendered to coverage masks with FreeType, in a CJK font found through
// fontconfig, plus a dilated copy of the mask that serves as the dark outline.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace glaze {

// A rendered text: two masks of width x height with coverage 0..255.
struct TextMask {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> fill;
    std::vector<std::uint8_t> outline;
};

// The font file that holds the CJK glyphs, found once per process; empty when the
// system has none.
struct FontFile {
    std::string path;
    int index = 0;
};
const FontFile& CjkFont();

// Renders with one FreeType face; not for use by two threads at once.
class TextRaster {
public:
    TextRaster();
    ~TextRaster();
    TextRaster(const TextRaster&) = delete;
    TextRaster& operator=(const TextRaster&) = delete;

    // Lines of `pixelSize` pixels. Without a usable font only U+25CF (the recording
    // dot) is drawn, as a disc; other characters leave a gap.
    TextMask Render(const std::u32string& text, int pixelSize);

private:
    bool LoadFace();
    struct FreeType;
    std::unique_ptr<FreeType> ft_;
    bool faceTried_ = false;
};

// Grows `fill` by `radius` pixels in every direction (a disc), the outline.
std::vector<std::uint8_t> DilateMask(const std::vector<std::uint8_t>& fill, int width, int height, int radius);

}  // namespace glaze
