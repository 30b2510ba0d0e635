#include "platform/ini_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <strings.h>
#include <vector>

namespace platform {
namespace {

// Serialises the read-modify-write of every profile file of the process.
std::mutex g_profileMutex;

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

struct Lines {
    std::vector<std::string> lines;  // without their line ends
    std::string newline = "\n";
};

bool ReadLines(const std::string& path, Lines& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::string line;
    bool first = true;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (first) out.newline = "\r\n";
        }
        first = false;
        out.lines.push_back(std::move(line));
    }
    return true;
}

// The section name of a header line, or false when the line is no header.
bool SectionOf(std::string_view line, std::string_view& name) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return false;
    auto close = line.find(']');
    name = Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return true;
}

bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value) {
    auto equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
    return !key.empty();
}

// Index range [begin, end) of the body of the first section named `section`.
bool FindSection(const Lines& file, std::string_view section, std::size_t& begin, std::size_t& end) {
    std::size_t i = 0;
    std::string_view name;
    for (; i < file.lines.size(); ++i)
        if (SectionOf(file.lines[i], name) && SameName(name, section)) break;
    if (i == file.lines.size()) return false;
    begin = ++i;
    while (i < file.lines.size() && !SectionOf(file.lines[i], name)) ++i;
    end = i;
    return true;
}

}  // namespace

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::string& path,
                              std::size_t bufferSize) {
    std::string result(defaultValue);
    {
        std::lock_guard lock(g_profileMutex);
        Lines file;
        std::size_t begin = 0, end = 0;
        if (ReadLines(path, file) && FindSection(file, section, begin, end)) {
            for (std::size_t i = begin; i < end; ++i) {
                std::string_view name, value;
                if (KeyOf(file.lines[i], name, value) && SameName(name, key)) {
                    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front())
                        value = value.substr(1, value.size() - 2);
                    result.assign(value);
                    break;
                }
            }
        }
    }
    if (bufferSize > 0 && result.size() > bufferSize - 1) result.resize(bufferSize - 1);
    return result;
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path) {
    std::lock_guard lock(g_profileMutex);
    Lines file;
    ReadLines(path, file);
    std::string entry = std::string(key) + "=" + std::string(value);

    std::size_t begin = 0, end = 0;
    if (!FindSection(file, section, begin, end)) {
        file.lines.push_back("[" + std::string(section) + "]");
        file.lines.push_back(entry);
    } else {
        bool replaced = false;
        std::size_t lastKeyLine = begin;  // insert after the section's last key line
        for (std::size_t i = begin; i < end; ++i) {
            std::string_view name, old;
            if (!KeyOf(file.lines[i], name, old)) continue;
            lastKeyLine = i + 1;
            if (SameName(name, key)) {
                file.lines[i] = entry;
                replaced = true;
                break;
            }
        }
        if (!replaced) file.lines.insert(file.lines.begin() + static_cast<long>(lastKeyLine), entry);
    }

    // Write a sibling file and rename it over the old one, so a failed write never
    // leaves a half-written settings file behind.
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        // The new file keeps the old one's mode (a file of secrets stays its owner's).
        std::error_code modeError;
        const auto old = std::filesystem::status(path, modeError);
        if (!modeError && std::filesystem::exists(old))
            std::filesystem::permissions(temporary, old.permissions(), modeError);
        for (const std::string& line : file.lines) out << line << file.newline;
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace platform
