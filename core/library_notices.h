#pragma once
// Messages of the libraries underneath (Qt and its audio back-end) that describe the
// machine rather than a fault: no sound server to connect to, no runtime folder in
// the environment. They would otherwise be printed on the terminal every run; they
// go to our log instead, once each. Users learn of a missing audio device where they
// look, when they turn listening or talkback on. Every other message keeps going to
// standard error.

#include <string>
#include <string_view>

namespace core {

enum class NoticeRoute { kStandardError, kLogOnce };

NoticeRoute RouteLibraryNotice(std::string_view category, std::string_view text);

// Writes "library: <text>" to the log the first time this text comes; true then.
// After kMaxNotices different texts, new ones are dropped: a library that varies its
// text must not fill the log.
inline constexpr std::size_t kMaxNotices = 64;
bool LogNoticeOnce(const std::string& text);

}  // namespace core
