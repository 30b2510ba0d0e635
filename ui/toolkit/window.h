#pragma once
// Skinned windows. A window names its skin file (a Qt Designer form under the
// resource path, whatever its extension) and gets: controls by name, notifications,
// window messages from any thread through its window handle, default keys, timers,
// and modal runs whose result is the code given to Close.

#include <QSize>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/window_handles.h"
#include "ui/toolkit/control.h"
#include "ui/toolkit/paint_manager.h"

class QEventLoop;

namespace ui {

class WindowImplBase;

// The top-level widget of a skinned window; it holds the loaded skin.
class WindowHost : public QWidget {
public:
    WindowHost(WindowImplBase& window, QWidget* parent, Qt::WindowFlags flags);
    WindowImplBase& Window() const { return window_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    WindowImplBase& window_;
};

class WindowImplBase : public INotifyUI, private ITimerSink {
public:
    WindowImplBase();
    ~WindowImplBase() override;
    WindowImplBase(const WindowImplBase&) = delete;
    WindowImplBase& operator=(const WindowImplBase&) = delete;

    // What a window supplies.
    virtual std::string GetWindowClassName() const = 0;
    virtual std::string GetSkinFile() = 0;
    virtual std::string GetSkinFolder() { return {}; }
    // Form markup used when the skin file is missing or unreadable; empty: none.
    virtual std::string GetFallbackSkin() { return {}; }
    // Qt window flags of the window (`owned`: it has a parent window). Frameless
    // dialogs and top-level windows by default; pop-ups and tool windows change them.
    virtual Qt::WindowFlags GetWindowFlags(bool owned) const;

    // Hooks, all on the user-interface thread.
    virtual void InitWindow() {}
    void Notify(TNotifyUI& msg) override {}
    // Window messages (posted or sent to the handle, and 275 for timers).
    virtual std::intptr_t HandleMessage(platform::Message& msg, bool& handled) {
        handled = false;
        return 0;
    }
    // Enter (Qt::Key_Return) and Escape; true when the key was used. Escape closes
    // with EscapeResult() unless a window says otherwise.
    virtual bool ResponseDefaultKeyEvent(int key);
    virtual int EscapeResult() const { return 1; }
    virtual void OnClose() {}
    virtual void OnSize(int width, int height) {}
    virtual void OnGetMinMaxInfo(QSize& minimum, QSize& maximum) {}
    // Asked for every skin class the toolkit does not know; nullptr: not this window's.
    virtual CControlUI* CreateControl(const std::string& className, QWidget* parent) { return nullptr; }

    // Builds the window from its skin. `parent` 0 makes a top-level window. False
    // when no skin could be loaded (the failure is logged and reported).
    bool Create(platform::WindowHandle parent, const std::string& caption);
    void CenterWindow();
    void ShowWindow(bool show = true);
    // Shows the window modally; returns the code given to Close, or -1 when the
    // window could not be created.
    int ShowModal();
    void Close(int code = 1);
    bool IsClosed() const { return closed_; }

    platform::WindowHandle GetHWND() const { return handle_; }
    QWidget* GetWidget() const { return host_.get(); }
    bool IsCreated() const { return host_ && skinRoot_; }

    CPaintManagerUI m_PaintManager;

protected:
    // Stops messages and notifications to this window (its destructor, early in a
    // derived destructor that still has work to do).
    void DestroyHandle();

private:
    friend class WindowHost;
    friend class SkinLoader;
    friend class WindowEventFilter;
    bool OnTimerMessage(std::uintptr_t id, CControlUI* control) override;
    std::intptr_t Dispatch(platform::Message& msg);
    QWidget* LoadSkin(const QString& path, QWidget* host, std::string& error);
    QWidget* LoadSkinMarkup(const QByteArray& markup, QWidget* host, std::string& error);

    std::unique_ptr<WindowHost> host_;
    QWidget* skinRoot_ = nullptr;
    platform::WindowHandle handle_ = 0;
    QEventLoop* loop_ = nullptr;
    bool closed_ = false;
    int result_ = 1;
};

// The window behind a handle (on the user-interface thread), or nullptr.
WindowImplBase* WindowFromHandle(platform::WindowHandle handle);

// Builds item rows from an item-template skin file; the file is read once.
class CDialogBuilder {
public:
    // The template's widget, attached to `manager`, or nullptr (logged) when the
    // template cannot be read. `creator` answers unknown classes, like CreateControl.
    QWidget* Create(const std::string& skinFile, CPaintManagerUI& manager, QWidget* parent = nullptr,
                    WindowImplBase* creator = nullptr);

private:
    std::string file_;
    QByteArray markup_;
};

// Builds widgets from form markup with the toolkit's controls; nullptr (and `error`)
// when the markup is unusable.
QWidget* LoadSkinWidget(const QByteArray& markup, QWidget* parent, WindowImplBase* creator, std::string& error);

// Called whenever a window starts a modal run, after it is shown and before its
// loop runs (tests watch and end them).
using ModalObserver = std::function<void(WindowImplBase&)>;
void SetModalObserver(ModalObserver observer);

// The program is quitting: ends every modal run, innermost first, and every modal run
// that starts later as soon as it is shown, each window closed with the code `codeFor`
// gives it. On the user-interface thread.
void EndModalRuns(std::function<int(WindowImplBase&)> codeFor);

// How a skin that cannot be loaded is reported to the user (after the log line).
// The default only logs; the program installs its message box.
using SkinErrorReporter = std::function<void(const std::string& text)>;
void SetSkinErrorReporter(SkinErrorReporter reporter);

// The common style sheet "skin.qss" in the resource path and "<skin name>.qss" beside
// a skin are applied to each window; "@skin@" in a sheet stands for the skin folder.
QString StyleSheetFor(const std::string& skinFolder, const std::string& skinFile);

}  // namespace ui
