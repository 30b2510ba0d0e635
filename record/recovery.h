#pragma once
// A working file left behind by a crash or a power loss would be truncated by the
// next recording in its folder. Before that, and at start-up, it is turned into a
// finished file named after its first and last frame times (kept only when those lie
// more than 9 seconds apart, like any recording); a torn last record is cut off.

#include <string>

namespace record {

// Results of RecoverWorkingFile.
enum class Recovery { kNothing, kKept, kTooShort, kBusy, kFailed };

// Recovers "<folder>/tmp.mvd" unless a writer of this process is using it. The name
// of the finished file is stored in `finishedName` when kept.
Recovery RecoverWorkingFile(const std::string& folder, std::string* finishedName = nullptr);
// Every camera folder directly below the record root.
int RecoverAll(const std::string& root);

// A writer announces its folder while it uses "tmp.mvd" there, so that recovery never
// takes a live file. Begin recovers and claims in one step.
class FolderClaim {
public:
    FolderClaim() = default;
    ~FolderClaim();
    FolderClaim(const FolderClaim&) = delete;
    FolderClaim& operator=(const FolderClaim&) = delete;
    // Recovers what is left and claims the folder.
    void RecoverAndClaim(const std::string& folder);
    void Release();

private:
    std::string folder_;
};

}  // namespace record
