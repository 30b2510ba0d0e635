#pragma once
// The live wall as a user left it: its layout and which camera was in which cell, kept
// per user in the settings folder, written when the main window closes and put back
// at that user's next login (cameras no longer in the tree are skipped by the caller).

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mainwin {

struct SavedWall {
    int layout = 4;
    int selected = 0;  // the cell a one-cell layout shows
    std::vector<std::pair<int, std::string>> cells;  // (cell, camera id), by cell
    bool operator==(const SavedWall&) const = default;
};

// Where settings are kept: the program's folder for now.
std::string SettingsFolder();
// One user's file: wallLayouts/<MD5 of the lower-case user name>.ini in the settings
// folder (user names compare without case, and no name ever becomes part of a path).
// Empty for an empty name.
std::string WallMemoryFile(const std::string& userName);

// Writes the whole file anew beside the old one and renames it over it, so that a
// crash leaves either the old file or the new one. False when it could not be written.
bool SaveWall(const std::string& file, const SavedWall& wall);
// Nothing without a file or a supported layout in it; lines that make no sense
// (unknown keys, cells outside 0-63, a cell twice, ids with odd characters) are dropped.
std::optional<SavedWall> LoadWall(const std::string& file);

}  // namespace mainwin
