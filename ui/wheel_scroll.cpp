#include "ui/wheel_scroll.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ui {

void SmoothWheel::Notch(bool up) {
    // The velocity still held (0 once a glide has ended) carries into the new one.
    const int held = velocity_;
    int v = up ? held + (velocity_ < 0 ? kAgainst : kAlong) : held - (velocity_ < 1 ? kAlong : kAgainst);
    v = std::clamp(v, -kLimit, kLimit);
    velocity_ = v;
    total_ = remaining_ = 5 * static_cast<int>(std::sqrt(static_cast<double>(std::abs(v))));
}

std::optional<int> SmoothWheel::Tick(bool atTop, bool atBottom) {
    if (remaining_ == 0) {
        Reset();
        return std::nullopt;
    }
    --remaining_;
    const double left = static_cast<double>(remaining_) / total_;
    const int step = static_cast<int>(velocity_ * left * left);
    if ((step > 0 && !atTop) || (step < 0 && !atBottom)) return step;
    Reset();
    return std::nullopt;
}

void SmoothWheel::Reset() { velocity_ = total_ = remaining_ = 0; }

}  // namespace ui
