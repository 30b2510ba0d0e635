#include "mainwin/wall_memory.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

#include "core/md5.h"
#include "platform/paths.h"
#include "wall/layout_geometry.h"

namespace mainwin {
namespace {

constexpr std::size_t kMaxFileBytes = 64 * 1024;
constexpr std::size_t kMaxIdLength = 64;

bool ValidId(const std::string& id) {
    return !id.empty() && id.size() <= kMaxIdLength && std::all_of(id.begin(), id.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '_' || c == '-' || c == '.';
           });
}

// A whole non-negative number, or -1.
int Number(const std::string& text) {
    if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) return -1;
    return std::stoi(text);
}

}  // namespace

std::string SettingsFolder() { return platform::SettingsDirectory(); }

std::string WallMemoryFile(const std::string& userName) {
    if (userName.empty()) return {};
    std::string lower = userName;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return platform::JoinPath(SettingsFolder(), "wallLayouts\\" + core::Md5Hex(lower) + ".ini");
}

bool SaveWall(const std::string& file, const SavedWall& wall) {
    if (file.empty()) return false;
    if (!platform::CreateDirectories(std::filesystem::path(file).parent_path().string())) return false;
    std::ostringstream text;
    text << "[Wall]\nLayout=" << wall.layout << "\nSelected=" << wall.selected << "\n";
    for (const auto& [cell, id] : wall.cells)
        if (cell >= 0 && cell < wall::kCellCount && ValidId(id)) text << "Cell" << cell << "=" << id << "\n";
    QSaveFile out(QString::fromStdString(file));
    if (!out.open(QIODevice::WriteOnly)) return false;
    const std::string bytes = text.str();
    if (out.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        out.cancelWriting();
        return false;
    }
    return out.commit();  // flushed, then renamed over the old file
}

std::optional<SavedWall> LoadWall(const std::string& file) {
    if (file.empty()) return std::nullopt;
    QFile in(QString::fromStdString(file));
    if (!in.open(QIODevice::ReadOnly) || in.size() > static_cast<qint64>(kMaxFileBytes)) return std::nullopt;
    std::istringstream lines(in.readAll().toStdString());
    SavedWall wall;
    bool layoutFound = false;
    std::set<int> taken;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "Layout") {
            const int layout = Number(value);
            if (wall::IsSupportedLayout(layout)) {
                wall.layout = layout;
                layoutFound = true;
            }
        } else if (key == "Selected") {
            const int cell = Number(value);
            if (cell >= 0 && cell < wall::kCellCount) wall.selected = cell;
        } else if (key.rfind("Cell", 0) == 0) {
            const int cell = Number(key.substr(4));
            if (cell < 0 || cell >= wall::kCellCount || !ValidId(value) || !taken.insert(cell).second) continue;
            wall.cells.emplace_back(cell, value);
        }
    }
    if (!layoutFound) return std::nullopt;
    std::sort(wall.cells.begin(), wall.cells.end());
    return wall;
}

}  // namespace mainwin
