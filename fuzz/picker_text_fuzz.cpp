// Arbitrary text as a picker's field (calendar and date picker), a typed time, and a
// tree node's attribute values: values stay in their ranges, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/date_fields.h"
#include "ui/toolkit/tree_view.h"

namespace {

void CheckFields(const ui::DateTimeFields& f) {
    using namespace ui::date_rules;
    if (f.year < kMinYear || f.year > kMaxYear || f.month < 1 || f.month > 12) std::abort();
    if (f.day < 1 || f.day > DaysInMonth(f.year, f.month)) std::abort();
    if (f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 59) std::abort();
    if (FormatDateTime(f).size() != 19 || FormatDate(f).size() != 10) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ui::DateTimeFields fields{2015, 7, 31, 12, 30, 45};
    ui::date_rules::ReadDateTime(text, fields);
    CheckFields(fields);
    ui::date_rules::ReadDate(text, fields);
    CheckFields(fields);
    for (int step : {1, -1}) {
        ui::date_rules::StepMonth(fields, step);
        ui::date_rules::StepYear(fields, step);
        CheckFields(fields);
    }
    const int typed = ui::date_rules::TypedValue(text, 59);
    if (typed < 0 || typed > 59) std::abort();

    ui::CTreeNodeUI node;
    for (const char* name : {"checkboxattr", "folderattr", "itemattr", "itemtextcolor", "visible", "height"})
        node.SetAttribute(name, text);
    const ui::TreeNodePart& box = node.CheckBox();
    if (box.width < 0 || box.height < 0 || box.padding.left() < 0 || box.padding.top() < 0) std::abort();
    (void)ui::ParseSubAttributes(text);
    (void)ui::ParseColorText(text);
    return 0;
}
