// What the alarm picture download reads from outside: the HTTP status line of the
// answer, and the picture URL of an alarm (the service's upload URL and picture
// value) turned into a cache file name and into the request the download sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/live_rules.h"

namespace {

bool HostText(const std::string& host) {
    if (host.empty()) return false;
    for (char c : host)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.')) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int status = ui::HttpStatusOf(text);
    if (status < 0 || status > 999) std::abort();

    // Whatever the URL, the file stays directly in the cache folder.
    const std::string file = ui::AlarmPictureCacheFile("/cache", text);
    if (file.rfind("/cache/", 0) != 0) std::abort();
    const std::string name = file.substr(7);
    if (name.find('/') != std::string::npos || name.find("..") != std::string::npos || name.size() > 32 + 5)
        std::abort();

    // The request is one request line, the three fixed headers and the blank line:
    // nothing in the URL ends a line early or adds a header.
    if (const auto request = ui::AlarmPictureRequest(text)) {
        if (!HostText(request->host) || request->port < 1 || request->port > 65535) std::abort();
        const std::string tail =
            " HTTP/1.0\r\nHost: " + request->host + "\r\nAccept: */*\r\nConnection: close\r\n\r\n";
        const std::string& sent = request->text;
        if (sent.rfind("GET /", 0) != 0 || sent.size() < 4 + tail.size() ||
            sent.compare(sent.size() - tail.size(), tail.size(), tail) != 0)
            std::abort();
        const std::string target = sent.substr(4, sent.size() - 4 - tail.size());
        for (unsigned char c : target)
            if (c <= 0x20 || c == 0x7F) std::abort();
        // The host is the URL's own, as written there.
        std::string lower = text;
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (lower.find(request->host) == std::string::npos) std::abort();
    }
    return 0;
}
