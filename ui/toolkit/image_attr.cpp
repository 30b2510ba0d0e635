#include "ui/toolkit/image_attr.h"

#include <QDir>
#include <QPainter>
#include <QStringList>
#include <qdrawutil.h>
#include <charconv>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "core/log_file.h"
#include "platform/paths.h"
#include "ui/toolkit/paint_manager.h"

namespace ui {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// "a,b,c,d" as four integers; false for anything else.
bool ParseFour(std::string_view text, int (&out)[4]) {
    for (int i = 0; i < 4; ++i) {
        text = Trim(text);
        const char* begin = text.data();
        const char* end = text.data() + text.size();
        auto [next, error] = std::from_chars(begin, end, out[i]);
        if (error != std::errc()) return false;
        text.remove_prefix(static_cast<std::size_t>(next - begin));
        text = Trim(text);
        if (i < 3) {
            if (text.empty() || text.front() != ',') return false;
            text.remove_prefix(1);
        }
    }
    return Trim(text).empty();
}

std::optional<QRect> ParseRect(std::string_view text) {
    int v[4];
    if (!ParseFour(text, v)) return std::nullopt;
    // Stored as left, top, right, bottom.
    if (v[2] < v[0] || v[3] < v[1]) return std::nullopt;
    return QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1));
}

using Cache = std::unordered_map<std::string, QPixmap>;
Cache& ImageCache() {
    static Cache cache;
    return cache;
}

// The file under `root` whose path matches `name` without regard to case, as on the
// systems the skins were first written for ("image//checkbox.png" finds
// "Image/checkbox.png"); empty when there is none.
QString FindIgnoringCase(const std::string& root, const std::string& name) {
    QDir dir(QString::fromStdString(root));
    const QStringList parts =
        QString::fromStdString(platform::NativePath(name)).split(QDir::separator(), Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (parts[i] == "..") return {};
        QString found;
        const QStringList entries = dir.entryList((last ? QDir::Files : QDir::Dirs) | QDir::NoDotAndDotDot);
        for (const QString& entry : entries)
            if (entry.compare(parts[i], Qt::CaseInsensitive) == 0) {
                found = entry;
                break;
            }
        if (found.isEmpty()) return {};
        if (last) return dir.filePath(found);
        if (!dir.cd(found)) return {};
    }
    return {};
}

}  // namespace

ImageAttr ParseImageAttr(std::string_view text) {
    ImageAttr image;
    text = Trim(text);
    if (text.find('=') == std::string_view::npos) {
        image.file = std::string(text);
        return image;
    }
    while (!text.empty()) {
        text = Trim(text);
        auto eq = text.find('=');
        if (eq == std::string_view::npos) break;
        std::string_view key = Trim(text.substr(0, eq));
        text.remove_prefix(eq + 1);
        text = Trim(text);
        std::string_view value;
        if (!text.empty() && (text.front() == '\'' || text.front() == '"')) {
            char quote = text.front();
            text.remove_prefix(1);
            auto close = text.find(quote);
            value = text.substr(0, close);
            text.remove_prefix(close == std::string_view::npos ? text.size() : close + 1);
        } else {
            auto blank = text.find(' ');
            value = text.substr(0, blank);
            text.remove_prefix(blank == std::string_view::npos ? text.size() : blank);
        }
        if (key == "file" || key == "res") {
            image.file = std::string(value);
        } else if (key == "source") {
            image.source = ParseRect(value);
        } else if (key == "dest") {
            image.dest = ParseRect(value);
        } else if (key == "corner") {
            int v[4];
            if (ParseFour(value, v) && v[0] >= 0 && v[1] >= 0 && v[2] >= 0 && v[3] >= 0)
                image.corner = QMargins(v[0], v[1], v[2], v[3]);
        } else if (key == "scale") {
            image.fit = value == "fit";
        } else if (key == "fade") {
            int fade = 0;
            auto [next, error] = std::from_chars(value.data(), value.data() + value.size(), fade);
            if (error == std::errc() && next == value.data() + value.size() && fade >= 0 && fade <= 255)
                image.fade = fade;
        }
    }
    return image;
}

std::shared_ptr<const SharedImage> ShareImage(const std::string& text) {
    if (text.empty()) return nullptr;
    static std::mutex lock;
    static std::unordered_map<std::string, std::weak_ptr<const SharedImage>> shared;
    static std::size_t pruneAt = 256;
    std::lock_guard guard(lock);
    std::weak_ptr<const SharedImage>& slot = shared[text];
    if (auto known = slot.lock()) return known;
    auto made = std::make_shared<const SharedImage>(SharedImage{text, ParseImageAttr(text)});
    slot = made;
    // Pictures nobody shows any more (alarm pictures come and go) are dropped now and then.
    if (shared.size() >= pruneAt) {
        std::erase_if(shared, [](const auto& entry) { return entry.second.expired(); });
        pruneAt = std::max<std::size_t>(256, shared.size() * 2);
    }
    return made;
}

QPixmap LoadSkinImage(const std::string& file, const std::string& skinFolder) {
    if (file.empty()) return {};
    const std::string key = skinFolder + '|' + file;
    Cache& cache = ImageCache();
    if (auto it = cache.find(key); it != cache.end()) return it->second;

    QPixmap pixmap;
    // A picture outside the skin (a downloaded alarm picture) is named by its full path.
    if (std::filesystem::path(file).is_absolute()) {
        if (!pixmap.load(QString::fromStdString(file))) core::LogWrite("image missing: %s", file.c_str());
        cache.emplace(key, pixmap);
        return pixmap;
    }
    const std::string& root = CPaintManagerUI::GetResourcePath();
    const std::string folders[] = {platform::JoinPath(root, skinFolder), root};
    for (const std::string& folder : folders)
        if (pixmap.load(QString::fromStdString(platform::JoinPath(folder, file)))) break;
    for (const std::string& folder : folders) {
        if (!pixmap.isNull()) break;
        const QString found = FindIgnoringCase(folder, file);
        if (!found.isEmpty()) pixmap.load(found);
    }
    if (pixmap.isNull()) core::LogWrite("skin image missing: %s", file.c_str());
    cache.emplace(key, pixmap);  // a missing picture is remembered too: one log line
    return pixmap;
}

void PaintImage(QPainter& painter, const QRect& rect, const ImageAttr& image, const std::string& skinFolder) {
    if (image.empty() || rect.isEmpty()) return;
    QPixmap pixmap = LoadSkinImage(image.file, skinFolder);
    if (pixmap.isNull()) return;
    QRect source = image.source ? image.source->intersected(pixmap.rect()) : pixmap.rect();
    if (source.isEmpty()) return;
    QRect target = rect;
    if (image.dest) target = image.dest->translated(rect.topLeft()).intersected(rect);
    if (target.isEmpty()) return;

    painter.save();
    painter.setOpacity(image.fade / 255.0);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (image.fit) {
        // As large as fits, its shape kept, in the middle of the place.
        const QSize shown = source.size().scaled(target.size(), Qt::KeepAspectRatio);
        target = QRect(target.topLeft() + QPoint((target.width() - shown.width()) / 2, (target.height() - shown.height()) / 2),
                       shown);
    }
    const QMargins& c = image.corner;
    if (c.isNull() || c.left() + c.right() >= source.width() || c.top() + c.bottom() >= source.height()) {
        painter.drawPixmap(target, pixmap, source);
    } else {
        qDrawBorderPixmap(&painter, target, c, pixmap.copy(source), QRect(QPoint(), source.size()), c);
    }
    painter.restore();
}

void ClearImageCache() { ImageCache().clear(); }

}  // namespace ui
