#pragma once
// Private-profile ini files with the behaviour the stored settings rely on:
// `[Section]` headers and `Key=Value` lines, section and key names compared without
// regard to letter case, blanks around names and values ignored, values read into a
// buffer of a given size (longer values are cut), the default returned when the file,
// section or key is missing. Writing creates the file and the section as needed and
// keeps every other line as it was. Lines that are neither headers nor `Key=Value`
// are ignored when reading and kept when writing.

#include <string>
#include <string_view>

namespace platform {

constexpr std::size_t kProfileBufferSize = 512;

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::string& path,
                              std::size_t bufferSize = kProfileBufferSize);

// False when the file cannot be written; the old file then stays as it was.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path);

}  // namespace platform
