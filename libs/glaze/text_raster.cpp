#include "libs/glaze/text_raster.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <mutex>

namespace glaze {
namespace {

constexpr char32_t kRecordingDot = U'\u25CF';
constexpr char32_t kProbe = U'\u5F55';  // 录: a font that has it has the mark's text

FontFile FindCjkFont() {
    FontFile found;
    if (!FcInit()) return found;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=zh-cn"));
    if (!pattern) return found;
    FcCharSet* wanted = FcCharSetCreate();
    FcCharSetAddChar(wanted, kProbe);
    FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        FcChar8* file = nullptr;
        FcCharSet* has = nullptr;
        int index = 0;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
            FcPatternGetCharSet(match, FC_CHARSET, 0, &has) == FcResultMatch && FcCharSetHasChar(has, kProbe)) {
            FcPatternGetInteger(match, FC_INDEX, 0, &index);
            found.path = reinterpret_cast<const char*>(file);
            found.index = index;
        }
        FcPatternDestroy(match);
    }
    FcCharSetDestroy(wanted);
    FcPatternDestroy(pattern);
    return found;
}

void DrawDisc(TextMask& mask, int left, int top, int size) {
    const double r = size * 0.42;
    const double cx = left + size / 2.0;
    const double cy = top + size / 2.0;
    for (int y = std::max(0, top); y < std::min(mask.height, top + size); ++y) {
        for (int x = std::max(0, left); x < std::min(mask.width, left + size); ++x) {
            // Coverage from the distance to the rim, for a soft edge.
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            const double coverage = std::clamp(r + 0.5 - d, 0.0, 1.0);
            auto& cell = mask.fill[static_cast<std::size_t>(y) * mask.width + x];
            cell = std::max<std::uint8_t>(cell, static_cast<std::uint8_t>(coverage * 255.0 + 0.5));
        }
    }
}

}  // namespace

const FontFile& CjkFont() {
    static std::once_flag once;
    static FontFile font;
    std::call_once(once, [] { font = FindCjkFont(); });
    return font;
}

struct TextRaster::FreeType {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~FreeType() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
};

TextRaster::TextRaster() : ft_(std::make_unique<FreeType>()) {}
TextRaster::~TextRaster() = default;

bool TextRaster::LoadFace() {
    if (faceTried_) return ft_->face != nullptr;
    faceTried_ = true;
    const FontFile& font = CjkFont();
    if (font.path.empty()) return false;
    if (FT_Init_FreeType(&ft_->library) != 0) {
        ft_->library = nullptr;
        return false;
    }
    if (FT_New_Face(ft_->library, font.path.c_str(), font.index, &ft_->face) != 0) ft_->face = nullptr;
    return ft_->face != nullptr;
}

TextMask TextRaster::Render(const std::u32string& text, int pixelSize) {
    TextMask mask;
    pixelSize = std::clamp(pixelSize, 4, 256);
    const int radius = std::max(1, pixelSize / 12);
    const bool haveFace = LoadFace() && FT_Set_Pixel_Sizes(ft_->face, 0, static_cast<FT_UInt>(pixelSize)) == 0;

    // Advances first, so that the canvas fits the whole line.
    std::vector<int> advances;
    int ascender = pixelSize * 7 / 8;
    int lineHeight = pixelSize;
    if (haveFace) {
        ascender = static_cast<int>(ft_->face->size->metrics.ascender >> 6);
        lineHeight = std::max(1, static_cast<int>((ft_->face->size->metrics.ascender - ft_->face->size->metrics.descender) >> 6));
    }
    int total = 0;
    for (char32_t c : text) {
        int advance = pixelSize;
        if (haveFace && FT_Get_Char_Index(ft_->face, c) != 0 && FT_Load_Char(ft_->face, c, FT_LOAD_DEFAULT) == 0)
            advance = static_cast<int>(ft_->face->glyph->advance.x >> 6);
        else if (c < 0x80)
            advance = pixelSize / 2;
        advances.push_back(std::max(0, advance));
        total += advances.back();
    }
    if (text.empty() || total == 0) return mask;

    const int pad = radius + 1;
    mask.width = total + 2 * pad + pixelSize / 4;  // room for glyphs that overhang their advance
    mask.height = lineHeight + 2 * pad;
    mask.fill.assign(static_cast<std::size_t>(mask.width) * mask.height, 0);

    int pen = pad;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        const bool glyph = haveFace && FT_Get_Char_Index(ft_->face, c) != 0;
        if (glyph && FT_Load_Char(ft_->face, c, FT_LOAD_RENDER) == 0 &&
            ft_->face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            const FT_GlyphSlot slot = ft_->face->glyph;
            const FT_Bitmap& bitmap = slot->bitmap;
            const int left = pen + slot->bitmap_left;
            const int top = pad + ascender - slot->bitmap_top;
            for (unsigned row = 0; row < bitmap.rows; ++row) {
                const int y = top + static_cast<int>(row);
                if (y < 0 || y >= mask.height) continue;
                const unsigned char* source = bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch;
                for (unsigned col = 0; col < bitmap.width; ++col) {
                    const int x = left + static_cast<int>(col);
                    if (x < 0 || x >= mask.width) continue;
                    auto& cell = mask.fill[static_cast<std::size_t>(y) * mask.width + x];
                    cell = std::max(cell, source[col]);
                }
            }
        } else if (c == kRecordingDot) {
            DrawDisc(mask, pen, pad + (lineHeight - pixelSize) / 2, pixelSize);
        }
        pen += advances[i];
    }
    mask.outline = DilateMask(mask.fill, mask.width, mask.height, radius);
    return mask;
}

std::vector<std::uint8_t> DilateMask(const std::vector<std::uint8_t>& fill, int width, int height, int radius) {
    std::vector<std::uint8_t> out(fill.size(), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t best = 0;
            for (int dy = -radius; dy <= radius && best < 255; ++dy) {
                const int sy = y + dy;
                if (sy < 0 || sy >= height) continue;
                for (int dx = -radius; dx <= radius; ++dx) {
                    const int sx = x + dx;
                    if (sx < 0 || sx >= width || dx * dx + dy * dy > radius * radius + radius) continue;
                    best = std::max(best, fill[static_cast<std::size_t>(sy) * width + sx]);
                }
            }
            out[static_cast<std::size_t>(y) * width + x] = best;
        }
    }
    return out;
}

}  // namespace glaze
