#pragma once
// Image attribute text as the skins and windows write it, for example
//   file='Image\cctv_line.png' source='0,0,16,16' corner='4,4,4,4' fade='200'
// and our own scale='fit': the whole picture as large as fits, its shape kept, centred
// (photographs). A bare name without any key is the file. Names use `\` and are looked up under the
// skin folder, then under the resource path.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QPixmap>
#include <QRect>

class QPainter;

namespace ui {

struct ImageAttr {
    std::string file;
    std::optional<QRect> source;  // part of the picture to use
    std::optional<QRect> dest;    // where to draw inside the control (offsets)
    QMargins corner;              // borders kept unscaled (nine-patch)
    int fade = 255;               // 0..255 opacity
    bool fit = false;             // keep the picture's shape (scale='fit')
    bool empty() const { return file.empty(); }
};

// An attribute text with its parsed form, shared by every control that shows it: the
// rows of a large list all use the same few pictures.
struct SharedImage {
    std::string text;
    ImageAttr attr;
};
// The shared form of `text` (nullptr for empty text); safe from any thread.
std::shared_ptr<const SharedImage> ShareImage(const std::string& text);

// Parses the attribute text. Unknown keys are ignored; a malformed value leaves its
// field unset; an unterminated quote ends the text. Never throws.
ImageAttr ParseImageAttr(std::string_view text);

// The picture of `file`, loaded once and shared (rows of large lists all draw the same
// few icons). A file that cannot be read gives a null pixmap and one log line.
QPixmap LoadSkinImage(const std::string& file, const std::string& skinFolder = {});

// Draws the image into `rect` following the attribute's source, dest, corner and fade.
void PaintImage(QPainter& painter, const QRect& rect, const ImageAttr& image, const std::string& skinFolder = {});

// Forgets cached pictures (tests; skin changes).
void ClearImageCache();

}  // namespace ui
