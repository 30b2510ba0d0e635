#pragma once
// Small helpers for controls that a skin may leave out.

#include "ui/toolkit/control.h"

namespace mainwin {

// The toolkit's null-safe forms, by their short names here.
using ui::SetText;
using ui::SetVisible;
using ui::TextOf;

// Combos drawn with plain items in a form get them as skinned items, so that the
// toolkit's selection calls see them.
void AdoptComboItems(ui::CComboUI* combo);

// Selects the first item whose text is `text` read as an integer equal to `value`;
// false when none matches.
bool SelectComboNumber(ui::CComboUI* combo, int value);

// An edit's or rich edit's character limit.
void SetTextLimit(ui::CControlUI* control, int characters);

}  // namespace mainwin
