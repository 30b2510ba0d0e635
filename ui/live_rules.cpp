#include "ui/live_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "core/message_ids.h"
#include "core/md5.h"
#include "control/master_http.h"
#include "wall/layout_geometry.h"
#include "platform/numbers.h"

namespace ui {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<int> PanTiltActionCode(std::string_view button) {
    static constexpr std::pair<const char*, int> kButtons[] = {
        {"yt_up", 1},        {"yt_down", 2},       {"yt_left", 3},      {"yt_right", 4},   {"yt_FocusFar", 5},
        {"yt_FocusNear", 6}, {"yt_IrisOpen", 7},   {"yt_IrisClose", 8}, {"yt_ZoomIn", 9},  {"yt_ZoomOut", 10},
    };
    for (const auto& [name, code] : kButtons)
        if (SameLetters(button, name)) return code;
    return std::nullopt;
}

std::optional<int> PanTiltCodeFor(std::string_view button, bool buttonDown) {
    const std::optional<int> code = PanTiltActionCode(button);
    if (!code) return std::nullopt;
    return buttonDown ? *code : kPanTiltStop;
}

std::optional<std::string> CellTextForOpenResult(int code) {
    switch (code) {
        case 1:
        case 0: return std::nullopt;
        case -1: return std::string(kUnknownCameraText);
        case -2: return std::string(kOutsideOpenWindowText);
        case -3: return std::string(kPlayerFailedText);
        case -4: return std::string(kConnectFailedText);
        case -5: return std::string(kCameraNotOnlineText);
        case -6: return std::string(kReconnectingText);
        case -7: return std::string(kNoStreamingServerText);
        case -8: return std::string(kNoReplyText);
        case -9: return std::string(kCameraLapsedText);
        case core::kNoPictureClosed: return std::string(kNoPictureText);
        default: {
            char text[64];
            std::snprintf(text, sizeof text, kOpenFailedFormat, code);
            return std::string(text);
        }
    }
}

std::optional<int> CellOfTextTimer(std::uintptr_t timerId) {
    if (timerId < static_cast<std::uintptr_t>(kCellTextTimerBase) ||
        timerId >= static_cast<std::uintptr_t>(kCellTextTimerBase + wall::kCellCount))
        return std::nullopt;
    return static_cast<int>(timerId) - kCellTextTimerBase;
}

std::optional<int> LayoutOfButton(std::string_view button) {
    static constexpr std::pair<const char*, int> kButtons[] = {{"Win1", 1},   {"Win4", 4},   {"Win9", 9},
                                                               {"Win16", 16}, {"Win25", 25}, {"Win36", 36},
                                                               {"Win49", 49}, {"Win64", 64}, {"Win6", 6},
                                                               {"Win8", 8}};
    for (const auto& [name, count] : kButtons)
        if (button == name) return count;
    return std::nullopt;
}

std::string FormatWithName(const char* format, const std::string& name) {
    // The formats hold exactly one "%s"; the name is data, never a format.
    const std::string_view text(format);
    const std::size_t at = text.find("%s");
    if (at == std::string_view::npos) return std::string(text);
    return std::string(text.substr(0, at)) + name + std::string(text.substr(at + 2));
}

RenewalReply RenewalReply::FromParams(const std::map<std::string, std::string>& params) {
    auto get = [&](const char* key) {
        auto it = params.find(key);
        return it == params.end() ? std::string() : it->second;
    };
    RenewalReply reply;
    reply.status = platform::ParseInt(get("status"));
    reply.expire = get("expire");
    reply.cameraId = get("cameraId");
    reply.expiredDate = get("expiredDate");
    return reply;
}

std::optional<RenewalReply> RenewalExchange::Take(std::int32_t id, const std::map<std::string, std::string>& params) {
    if (answered_ || requestId_ == 0 || id != requestId_) return std::nullopt;
    answered_ = true;
    return RenewalReply::FromParams(params);
}

std::string RenewalArrearsText(const std::string& name) { return FormatWithName("摄像头 %s 已欠费!", name); }

std::string RenewalStartedText(const std::string& name) { return FormatWithName("摄像头 %s 续费中...", name); }

std::string RenewalTickText(const std::string& name, int counter) {
    static constexpr const char* kTicks[3] = {"摄像头 %s 续费中.  ", "摄像头 %s 续费中.. ", "摄像头 %s 续费中..."};
    const int step = ((counter % 3) + 3) % 3;
    return FormatWithName(kTicks[step], name);
}

std::string RenewalFailureText(int status) {
    switch (status) {
        case -2: return "账户余额不足!";
        case -3: return "该摄像头非本账户所有!";
        case 0: return "续费超时!";
        default: return "请重试!";
    }
}

std::string FormatSearchTime(int year, int month, int day, int hour, int minute, int second) {
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

std::size_t AlarmPager::ShowPage() {
    const std::size_t more = std::min(kAlarmPageRows, received_ - std::min(received_, shown_));
    shown_ += more;
    return more;
}

int HttpStatusOf(const std::string& header) {
    // "HTTP/" digits "." digits, one blank, three digits.
    if (header.compare(0, 5, "HTTP/") != 0) return 0;
    const std::size_t blank = header.find(' ');
    if (blank == std::string::npos || blank > 12 || header.size() < blank + 4) return 0;
    int status = 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i) {
        const char c = header[i];
        if (c < '0' || c > '9') return 0;
        status = status * 10 + (c - '0');
    }
    if (header.size() > blank + 4 && header[blank + 4] != ' ' && header[blank + 4] != '\r' &&
        header[blank + 4] != '\n')
        return 0;
    return status;
}

std::string AlarmPictureCacheFile(const std::string& folder, const std::string& url) {
    std::string extension = ".jpg";
    const std::size_t slash = url.find_last_of('/');
    const std::size_t dot = url.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string candidate = url.substr(dot);
        const bool plain = candidate.size() <= 5 && std::all_of(candidate.begin() + 1, candidate.end(), [](char c) {
                               return std::isalnum(static_cast<unsigned char>(c)) != 0;
                           });
        if (plain && candidate.size() > 1) extension = candidate;
    }
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + core::Md5Hex(url) + extension;
}

std::optional<PictureRequest> AlarmPictureRequest(const std::string& url) {
    control::CMasterHttp::ParsedUrl parsed;
    if (!control::CMasterHttp::ParseUrl(url, parsed) || parsed.host.empty()) return std::nullopt;
    // "http://host:0/", "http://host:99999/": no port to connect to. "http://a@b/x" would
    // ask host "a" for "@b/x", which is no path of it.
    if (parsed.port < 1 || parsed.port > 65535 || parsed.path.empty() || parsed.path[0] != '/') return std::nullopt;
    PictureRequest request;
    request.host = parsed.host;
    std::transform(request.host.begin(), request.host.end(), request.host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    request.port = parsed.port;
    request.text = "GET " + control::EncodeRequestPath(parsed.path) + " HTTP/1.0\r\nHost: " + request.host +
                   "\r\nAccept: */*\r\nConnection: close\r\n\r\n";
    return request;
}

}  // namespace ui
