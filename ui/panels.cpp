#include "ui/panels.h"

#include <QVBoxLayout>
#include <cinttypes>

#include "core/log_file.h"

namespace ui {

CSkinPanelUI::CSkinPanelUI(std::string className, std::string skinFile, WindowImplBase& window, QWidget* parent)
    : CContainerUI(parent), className_(std::move(className)), skinFile_(std::move(skinFile)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    CDialogBuilder builder;
    content_ = builder.Create(skinFile_, window.m_PaintManager, this, &window);
    if (content_) layout->addWidget(content_);
}

namespace {
void LogManager(const char* format, const CPaintManagerUI& manager) {
    core::LogWrite(format, static_cast<std::uintptr_t>(reinterpret_cast<std::uintptr_t>(&manager)));
}
}  // namespace

CPermissionPanel::CPermissionPanel(WindowImplBase& window, QWidget* parent)
    : CSkinPanelUI("PermissionPanel", kSkin, window, parent) {
    LogManager("0x%08" PRIxPTR " Permission PaintManagerUI", window.m_PaintManager);
}

CSubAccActionPanel::CSubAccActionPanel(WindowImplBase& window, QWidget* parent)
    : CSkinPanelUI("SubAccActionPanel", kSkin, window, parent) {
    LogManager("0x%08" PRIxPTR " Permission PaintManagerUI", window.m_PaintManager);
}

CSubAccBatchActionPanel::CSubAccBatchActionPanel(WindowImplBase& window, QWidget* parent)
    : CSkinPanelUI("SubAccBatchActionPanel", kSkin, window, parent) {
    LogManager("0x%08" PRIxPTR " Permission Batch PaintManagerUI", window.m_PaintManager);
}

}  // namespace ui
