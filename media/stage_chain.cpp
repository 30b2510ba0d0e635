#include "media/stage_chain.h"

namespace media {

StageChain::~StageChain() { ClearStages(); }

void StageChain::Append(std::unique_ptr<CDoHandle> stage, bool display) {
    std::lock_guard lock(mutex_);
    if (display) display_ = stage.get();
    stages_.push_back(std::move(stage));
}

int StageChain::RunOnce() {
    std::lock_guard lock(mutex_);
    for (auto& stage : stages_)
        if (!stage->Process(frame_)) return 0;
    return frame_.frameRate;
}

void StageChain::Repaint() {
    std::lock_guard lock(mutex_);
    if (display_ && frame_.picture && frame_.consumed > 0) display_->Process(frame_);
}

void StageChain::ClearStages() {
    std::lock_guard lock(mutex_);
    display_ = nullptr;
    for (auto& stage : stages_) {
        stage->Release();
        stage.reset();
    }
    stages_.clear();
}

std::size_t StageChain::Size() {
    std::lock_guard lock(mutex_);
    return stages_.size();
}

void StageChain::ResetFrame() {
    std::lock_guard lock(mutex_);
    frame_.Reset();
}

}  // namespace media
