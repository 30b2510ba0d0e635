#pragma once
// Smooth wheel scrolling of the camera tree. Each wheel notch changes a velocity in
// pixels; a 50 ms timer then scrolls by a step that shrinks with the square of the
// time left, so the list glides to a stop. A notch against the running direction
// brakes harder than one along it.

#include <optional>

namespace ui {

class SmoothWheel {
public:
    static constexpr int kLimit = 100;        // pixels per tick, either way
    static constexpr int kAlong = 8;          // a notch while idle or along the motion
    static constexpr int kAgainst = 12;       // a notch against the motion
    static constexpr unsigned kTickMs = 50;

    // One notch; up means towards the top of the list. Afterwards the timer must run.
    void Notch(bool up);
    // One timer tick, told whether the list is at its top or bottom now. The pixels
    // to scroll (positive: up), or nothing when the glide is over (the state is then
    // reset and the timer must stop).
    std::optional<int> Tick(bool atTop, bool atBottom);
    void Reset();

    bool Running() const { return remaining_ > 0; }
    int Velocity() const { return velocity_; }
    int TotalSteps() const { return total_; }
    int RemainingSteps() const { return remaining_; }

private:
    int velocity_ = 0;
    int total_ = 0;
    int remaining_ = 0;
};

}  // namespace ui
