#pragma once
#include <string>
#include <string_view>

namespace core {

// MD5 digest of the text's bytes as 32 upper-case hexadecimal digits. Returns its own
// string, so two threads may hash at once.
std::string Md5Hex(std::string_view text);

}  // namespace core
