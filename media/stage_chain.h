#pragma once
// The ordered stage list of one camera (decode, overlay, display) with its lock, the
// frame that travels down it, and the three operations the play thread uses.

#include <memory>
#include <mutex>
#include <vector>

#include "media/stage.h"

namespace media {

class StageChain {
public:
    StageChain() = default;
    ~StageChain();
    StageChain(const StageChain&) = delete;
    StageChain& operator=(const StageChain&) = delete;

    // Appends a stage whose Init succeeded; `display` also remembers it as the
    // display stage.
    void Append(std::unique_ptr<CDoHandle> stage, bool display = false);

    // One frame through the chain: the frame rate when every stage accepted it, else 0.
    int RunOnce();
    // Shows the last picture again through the display stage, when there is one.
    void Repaint();
    // Releases and destroys every stage, in order.
    void ClearStages();

    std::size_t Size();
    StageFrame& Frame() { return frame_; }
    void ResetFrame();

private:
    // The stage-list lock: each operation holds it for itself alone. The camera's
    // sequence builds and clears the list; the play thread runs it.
    std::mutex mutex_;
    std::vector<std::unique_ptr<CDoHandle>> stages_;
    CDoHandle* display_ = nullptr;
    StageFrame frame_;
};

}  // namespace media
