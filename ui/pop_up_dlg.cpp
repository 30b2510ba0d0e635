#include "ui/pop_up_dlg.h"

namespace ui {

CPopUpDlg::CPopUpDlg(std::string skinFile, platform::WindowHandle parent)
    : skinFile_(std::move(skinFile)), parent_(parent) {}

int CPopUpDlg::DoModal(const std::string& caption) {
    if (!IsCreated() && !Create(parent_, caption)) return -1;
    CenterWindow();
    return ShowModal();
}

}  // namespace ui
