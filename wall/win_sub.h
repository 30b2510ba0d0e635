#pragma once
// The strip along the bottom of the cell under the mouse: the camera's name, its
// picture size and the open/close, listen, record and talk buttons. It keeps no
// camera state: it shows the marks of the cell's row and turns clicks into requests
// sent synchronously to the main window, each with its own copy of the camera id.

#include <QSize>
#include <functional>
#include <string>

#include "control/control_types.h"
#include "ui/toolkit/window.h"

namespace wall {

// Button pictures for a mark that is set and one that is not.
inline constexpr const char* kLiveImage = "file='Image\\sxtsubclose.png'";
inline constexpr const char* kNotLiveImage = "file='Image\\sxtsubplay.png'";
inline constexpr const char* kListeningImage = "file='Image\\Audio_D.png'";
inline constexpr const char* kNotListeningImage = "file='Image\\sound.png'";
inline constexpr const char* kRecordingImage = "file='Image\\Record_Off.png'";
inline constexpr const char* kNotRecordingImage = "file='Image\\Record_On.png'";
inline constexpr const char* kTalkingImage = "file='Image\\Talk_Off.png'";
inline constexpr const char* kNotTalkingImage = "file='Image\\Talk_On.png'";

// This user always sees the picture size (support sessions).
inline constexpr const char* kResolutionUser = "larkview-support";

class CWinSub : public ui::WindowImplBase {
public:
    // The picture size of the camera shown in a cell (0 × 0 when none is known).
    using PictureSize = std::function<QSize(int cell, const std::string& cameraId)>;

    CWinSub(platform::WindowHandle mainWindow, PictureSize pictureSize);

    std::string GetWindowClassName() const override { return "DUIWinSubWin"; }
    std::string GetSkinFile() override { return "ChildWin.xml"; }
    std::string GetSkinFolder() override { return "ChildWin"; }
    std::string GetFallbackSkin() override;
    void InitWindow() override;
    void Notify(ui::TNotifyUI& msg) override;
    bool ResponseDefaultKeyEvent(int key) override { return true; }

    void SetMainWindow(platform::WindowHandle window) { mainWindow_ = window; }
    void Refresh(int cell, control::ItemPtr row);
    int Cell() const { return cell_; }
    const control::ItemPtr& Row() const { return row_; }

    // Clicks as the buttons report them (tests drive them by name too).
    void Click(const std::string& button);

private:
    void SetImage(ui::CControlUI* button, bool markSet, const char* setImage, const char* notSetImage);
    void Send(std::uint32_t message, std::intptr_t lParam);
    void ShowStrip(bool show);

    platform::WindowHandle mainWindow_;
    PictureSize pictureSize_;
    int cell_ = -1;
    control::ItemPtr row_;
    ui::CControlUI* name_ = nullptr;
    ui::CControlUI* resolution_ = nullptr;
    ui::CControlUI* message_ = nullptr;
    ui::CControlUI* start_ = nullptr;
    ui::CControlUI* audio_ = nullptr;
    ui::CControlUI* record_ = nullptr;
    ui::CControlUI* talk_ = nullptr;
};

}  // namespace wall
