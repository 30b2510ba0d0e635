#pragma once
// Drives modal windows in headless tests: each time a window starts its modal run,
// the next step in line gets it (to look at it and usually end it). A window that
// finds no step left is closed with -2 so that a test never hangs.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/toolkit/window.h"

namespace testing_support {

class ModalDriver {
public:
    using Step = std::function<void(ui::WindowImplBase&)>;
    ModalDriver() {
        ui::SetModalObserver([this](ui::WindowImplBase& window) {
            seen.push_back(window.GetWindowClassName());
            if (steps_.empty()) {
                window.Close(-2);
                return;
            }
            Step step = std::move(steps_.front());
            steps_.pop_front();
            step(window);
        });
    }
    ~ModalDriver() { ui::SetModalObserver(nullptr); }
    void Then(Step step) { steps_.push_back(std::move(step)); }
    std::size_t Pending() const { return steps_.size(); }

    std::vector<std::string> seen;  // window class names, in the order they went modal

private:
    std::deque<Step> steps_;
};

// The text of the named control, or "<absent>".
inline std::string TextOf(ui::WindowImplBase& window, const std::string& name) {
    ui::CControlUI* control = window.m_PaintManager.FindControl(name);
    return control ? control->GetText() : "<absent>";
}

}  // namespace testing_support
