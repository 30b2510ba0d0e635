#include "wall/win_sub.h"

#include "core/message_ids.h"
#include "core/app_config.h"
#include "core/log_file.h"

namespace wall {

CWinSub::CWinSub(platform::WindowHandle mainWindow, PictureSize pictureSize)
    : mainWindow_(mainWindow), pictureSize_(std::move(pictureSize)) {}

std::string CWinSub::GetFallbackSkin() {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>ChildWin</class>
<widget class="QFrame" name="ChildWin"><layout class="QHBoxLayout">
<item><widget class="QLabel" name="sxtName"/></item>
<item><widget class="QLabel" name="sxtFBL"/></item>
<item><widget class="QLabel" name="sxtMsg"/></item>
<item><widget class="QPushButton" name="subStart"/></item>
<item><widget class="QPushButton" name="btnAudio"/></item>
<item><widget class="QPushButton" name="btnRecord"/></item>
<item><widget class="QPushButton" name="btnTalkback"/></item>
</layout></widget></ui>)";
}

void CWinSub::InitWindow() {
    name_ = m_PaintManager.FindControl("sxtName");
    resolution_ = m_PaintManager.FindControl("sxtFBL");
    message_ = m_PaintManager.FindControl("sxtMsg");
    start_ = m_PaintManager.FindControl("subStart");
    audio_ = m_PaintManager.FindControl("btnAudio");
    record_ = m_PaintManager.FindControl("btnRecord");
    talk_ = m_PaintManager.FindControl("btnTalkback");
    const auto& config = core::AppConfig::Instance();
    if (resolution_) resolution_->SetVisible(config.showResolution != 0 || config.LoginUserName() == kResolutionUser);
}

void CWinSub::ShowStrip(bool show) {
    if (QWidget* strip = GetWidget()) strip->setVisible(show);
}

void CWinSub::SetImage(ui::CControlUI* button, bool markSet, const char* setImage, const char* notSetImage) {
    if (button) button->SetBkImage(markSet ? setImage : notSetImage);
}

void CWinSub::Refresh(int cell, control::ItemPtr row) {
    if (row) {
        cell_ = cell;
        row_ = std::move(row);
        ShowStrip(true);
        if (name_) name_->SetText(row_->name);
        if (row_->live) {
            if (pictureSize_ && resolution_) {
                const QSize size = pictureSize_(cell, row_->id);
                if (!size.isEmpty()) {
                    char text[32];
                    std::snprintf(text, sizeof text, "%dX%d", size.width(), size.height());
                    resolution_->SetText(text);
                }
            }
            SetImage(start_, true, kLiveImage, kNotLiveImage);
        } else {
            SetImage(start_, false, kLiveImage, kNotLiveImage);
        }
        SetImage(audio_, row_->listening, kListeningImage, kNotListeningImage);
        SetImage(record_, row_->recording, kRecordingImage, kNotRecordingImage);
        SetImage(talk_, row_->talking, kTalkingImage, kNotTalkingImage);
    } else {
        if (name_) name_->SetText("");
        if (resolution_) resolution_->SetText("");
        ShowStrip(false);
    }
    if (message_) message_->SetText("");
}

void CWinSub::Send(std::uint32_t message, std::intptr_t lParam) {
    // A fresh copy of the id per request: the main window owns and frees it.
    platform::SendWindowMessage(mainWindow_, platform::Message(message, 0, lParam, platform::MakePayload(std::string(row_->id))));
}

void CWinSub::Click(const std::string& button) {
    if (!row_) return;  // a free cell asks for nothing
    const bool live = row_->live;
    if (button == "subStart") {
        if (live) {
            SetImage(start_, false, kLiveImage, kNotLiveImage);
            Send(core::kCloseCameraRequest, 0);
        } else {
            SetImage(start_, true, kLiveImage, kNotLiveImage);
            Send(core::kOpenCameraRequest, cell_);
        }
    } else if (button == "btnAudio") {
        if (row_->listening) {
            SetImage(audio_, true, kListeningImage, kNotListeningImage);
            Send(core::kListenOffRequest, 0);
        } else {
            SetImage(audio_, false, kListeningImage, kNotListeningImage);
            Send(core::kListenOnRequest, cell_);
        }
    } else if (button == "btnRecord") {
        if (!live) return;
        if (row_->recording) {
            SetImage(record_, true, kRecordingImage, kNotRecordingImage);
            Send(core::kRecordOffRequest, 0);
        } else {
            SetImage(record_, false, kRecordingImage, kNotRecordingImage);
            Send(core::kRecordOnRequest, cell_);
        }
    } else if (button == "btnTalkback") {
        if (!live) return;
        if (row_->talking) {
            SetImage(talk_, true, kTalkingImage, kNotTalkingImage);
            core::LogWrite("Talk..........on....\n");
            Send(core::kTalkOffRequest, 0);
        } else {
            SetImage(talk_, false, kTalkingImage, kNotTalkingImage);
            core::LogWrite("Talk.......off.......\n");
            Send(core::kTalkOnRequest, 0);
        }
    }
}

void CWinSub::Notify(ui::TNotifyUI& msg) {
    if (msg.sType == "click" && msg.pSender) Click(msg.pSender->GetName());
}

}  // namespace wall
