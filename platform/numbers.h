#pragma once
// Numbers read from text that comes from outside (settings files, replies of the
// service). They are read the way atoi reads them, without atoi's wrap-around.

#include <string_view>

namespace platform {

// Leading blanks, an optional sign, then decimal digits up to the first other
// character; 0 when there are none. A value beyond int saturates at INT_MIN or
// INT_MAX: atoi("4294967297") is 1 on glibc, which made a reply status of that text
// read as success.
int ParseInt(std::string_view text);

// A TCP port: ParseInt's reading when it lies in 1-65535, otherwise 0 (no port).
int ParsePort(std::string_view text);

}  // namespace platform
