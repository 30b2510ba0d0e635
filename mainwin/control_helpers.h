#pragma once
// Small null-safe helpers for controls that a skin may leave out.

#include <string>

#include "ui/toolkit/control.h"

namespace mainwin {

inline void SetVisible(ui::CControlUI* control, bool visible) {
    if (control) control->SetVisible(visible);
}

inline void SetText(ui::CControlUI* control, const std::string& text) {
    if (control) control->SetText(text);
}

inline std::string TextOf(const ui::CControlUI* control) { return control ? control->GetText() : std::string(); }

// Combos drawn with plain items in a form get them as skinned items, so that the
// toolkit's selection calls see them.
void AdoptComboItems(ui::CComboUI* combo);

// Selects the first item whose text is `text` read as an integer equal to `value`;
// false when none matches.
bool SelectComboNumber(ui::CComboUI* combo, int value);

// An edit's or rich edit's character limit.
void SetTextLimit(ui::CControlUI* control, int characters);

}  // namespace mainwin
