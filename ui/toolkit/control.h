#pragma once
// Controls of the skinned windows. Every control has a name (its objectName in the
// skin), text, visibility, enabled state, a text user-data value and an integer tag.
// Widget controls are Qt widgets with this face added; list rows are lightweight
// records painted by their list (list.h) and have the same face.

#include <cstdint>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTextEdit>

#include "ui/toolkit/image_attr.h"

namespace ui {

class CPaintManagerUI;

class CControlUI {
public:
    virtual ~CControlUI() = default;

    // Kind name as the skins know it ("Button", "Option", "Label", "Edit", ...).
    virtual std::string GetClass() const = 0;
    virtual std::string GetName() const = 0;
    virtual std::string GetText() const { return {}; }
    virtual void SetText(const std::string&) {}
    // The control's own visibility and enabled state (not its parents').
    virtual bool IsVisible() const = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual bool IsEnabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual void SetFocus() {}
    // The containing control, or nullptr at the top of a window or row.
    virtual CControlUI* GetParent() const = 0;
    // The Qt widget behind a widget control; nullptr for lightweight rows.
    virtual QWidget* GetWidget() { return nullptr; }

    // Background image attribute text ("file='Image\\lg1.png'").
    virtual void SetBkImage(const std::string& attr);
    const std::string& GetBkImage() const;
    const ImageAttr& BkImageAttr() const;

    const std::string& GetUserData() const { return userData_; }
    void SetUserData(std::string data) { userData_ = std::move(data); }
    std::intptr_t GetTag() const { return tag_; }
    void SetTag(std::intptr_t tag) { tag_ = tag; }

    // A timer the control set through its manager fired; true when the control used
    // it (otherwise it goes to the window as message 275).
    virtual bool OnTimer(std::uintptr_t id) { return false; }

    CPaintManagerUI* GetManager() const { return manager_; }
    // Connects the control's input to the manager's notifications (once).
    virtual void Attach(CPaintManagerUI* manager) { manager_ = manager; }
    void Detach() { manager_ = nullptr; }

protected:
    // Sends a notification through the attached manager, if any.
    void Notify(const char* type, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    std::shared_ptr<const SharedImage> bkImage_;

private:
    std::string userData_;
    std::intptr_t tag_ = 0;
    CPaintManagerUI* manager_ = nullptr;
};

// The control face over a Qt widget class.
template <class QtBase>
class CWidgetControl : public QtBase, public CControlUI {
public:
    explicit CWidgetControl(QWidget* parent = nullptr) : QtBase(parent) {}
    std::string GetName() const override { return this->objectName().toStdString(); }
    bool IsVisible() const override { return !this->isHidden(); }
    void SetVisible(bool visible) override { this->setVisible(visible); }
    bool IsEnabled() const override { return !this->testAttribute(Qt::WA_ForceDisabled); }
    void SetEnabled(bool enabled) override { this->setEnabled(enabled); }
    void SetFocus() override { this->setFocus(Qt::OtherFocusReason); }
    CControlUI* GetParent() const override;
    QWidget* GetWidget() override { return this; }
    void SetBkImage(const std::string& attr) override {
        CControlUI::SetBkImage(attr);
        this->update();
    }

protected:
    // Paints the background image, if one is set, under the widget's own painting.
    void PaintBkImage(QPaintEvent*);
};

// The nearest ancestor widget that is a control.
CControlUI* ParentControlOf(const QWidget* widget);

template <class QtBase>
CControlUI* CWidgetControl<QtBase>::GetParent() const {
    return ParentControlOf(this);
}

// Containers: plain widgets and frames of the skin.
class CContainerUI : public CWidgetControl<QFrame> {
public:
    using CWidgetControl::CWidgetControl;
    std::string GetClass() const override { return "Container"; }
    std::string GetText() const override { return text_; }
    void SetText(const std::string& text) override { text_ = text; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string text_;
};

// Labels show names and texts from the service, files and the user: always as plain
// text, so that markup in a name is shown as typed and never rendered.
class CLabelUI : public CWidgetControl<QLabel> {
public:
    explicit CLabelUI(QWidget* parent = nullptr) : CWidgetControl(parent) { setTextFormat(Qt::PlainText); }
    std::string GetClass() const override { return "Label"; }
    std::string GetText() const override { return text().toStdString(); }
    void SetText(const std::string& text) override { setText(QString::fromStdString(text)); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A push button that draws state images when it has them:
// normal, hot (pointer over it), pushed, disabled; the text is drawn on top.
class CButtonUI : public CWidgetControl<QPushButton> {
public:
    explicit CButtonUI(QWidget* parent = nullptr);
    std::string GetClass() const override { return "Button"; }
    std::string GetText() const override { return text().toStdString(); }
    void SetText(const std::string& text) override { setText(QString::fromStdString(text)); }
    void Attach(CPaintManagerUI* manager) override;

    void SetNormalImage(const std::string& attr);
    void SetHotImage(const std::string& attr);
    void SetPushedImage(const std::string& attr);
    void SetDisabledImage(const std::string& attr);
    const std::string& GetNormalImage() const { return imageText_[kNormal]; }
    const std::string& GetHotImage() const { return imageText_[kHot]; }
    const std::string& GetPushedImage() const { return imageText_[kPushed]; }
    // True from "buttondown" until its "buttonup".
    bool IsHeld() const { return held_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Every press ends with one "buttonup": released anywhere, the focus or the
    // window's activation lost, or the button hidden while held.
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum State { kNormal, kHot, kPushed, kDisabled, kStates };
    void SetStateImage(State state, const std::string& attr);
    void EndHold();
    bool held_ = false;
    std::string imageText_[kStates];
    ImageAttr image_[kStates];
};

// A selectable button. Options sharing a "group" property are exclusive.
class COptionUI : public CWidgetControl<QCheckBox> {
public:
    using CWidgetControl::CWidgetControl;
    std::string GetClass() const override { return "Option"; }
    std::string GetText() const override { return text().toStdString(); }
    void SetText(const std::string& text) override { setText(QString::fromStdString(text)); }
    void Attach(CPaintManagerUI* manager) override;

    bool IsSelected() const { return isChecked(); }
    // Changes the state; "selectchanged" is sent only when `sendNotify` is true.
    void Selected(bool selected, bool sendNotify = true);

private:
    bool quiet_ = false;
};

class CEditUI : public CWidgetControl<QLineEdit> {
public:
    using CWidgetControl::CWidgetControl;
    std::string GetClass() const override { return "Edit"; }
    std::string GetText() const override { return text().toStdString(); }
    void SetText(const std::string& text) override { setText(QString::fromStdString(text)); }
    void Attach(CPaintManagerUI* manager) override;
    void SetPasswordMode(bool on) { setEchoMode(on ? QLineEdit::Password : QLineEdit::Normal); }
    void SetMaxChar(int count) { setMaxLength(count); }
    void SetReadOnly(bool on) { setReadOnly(on); }
};

// A multi-line edit of plain text: pasted markup stays text.
class CRichEditUI : public CWidgetControl<QTextEdit> {
public:
    explicit CRichEditUI(QWidget* parent = nullptr) : CWidgetControl(parent) { setAcceptRichText(false); }
    std::string GetClass() const override { return "RichEdit"; }
    std::string GetText() const override { return toPlainText().toStdString(); }
    void SetText(const std::string& text) override { setPlainText(QString::fromStdString(text)); }
    void Attach(CPaintManagerUI* manager) override;
};

// Progress bar, 0..100 unless the skin says otherwise.
class CProgressUI : public CWidgetControl<QProgressBar> {
public:
    using CWidgetControl::CWidgetControl;
    std::string GetClass() const override { return "Progress"; }
    std::string GetText() const override { return text().toStdString(); }
    int GetValue() const { return value(); }
    void SetValue(int v) { setValue(v); }
    void SetMinValue(int v) { setMinimum(v); }
    void SetMaxValue(int v) { setMaximum(v); }
};

class CSliderUI : public CWidgetControl<QSlider> {
public:
    explicit CSliderUI(QWidget* parent = nullptr);
    std::string GetClass() const override { return "Slider"; }
    void Attach(CPaintManagerUI* manager) override;
    int GetValue() const { return value(); }
    void SetValue(int v) { setValue(v); }
};

// One page of several shown at a time.
class CTabLayoutUI : public CWidgetControl<QStackedWidget> {
public:
    using CWidgetControl::CWidgetControl;
    std::string GetClass() const override { return "TabLayout"; }
    bool SelectItem(int index);
    int GetCurSel() const { return currentIndex(); }
};

class CDateTimeUI : public CWidgetControl<QDateTimeEdit> {
public:
    using CWidgetControl::CWidgetControl;
    std::string GetClass() const override { return "DateTime"; }
    std::string GetText() const override { return text().toStdString(); }
    void Attach(CPaintManagerUI* manager) override;
};

// A combo box whose items are small skinned widgets (built from an item template),
// shown in its own drop-down. Picking an item sends "itemselect" with the new index
// in wParam and the previous one in lParam. Hidden items are not shown.
class CComboUI : public CWidgetControl<QComboBox> {
public:
    explicit CComboUI(QWidget* parent = nullptr);
    ~CComboUI() override;
    std::string GetClass() const override { return "Combo"; }
    std::string GetText() const override { return currentText().toStdString(); }

    // Takes the item widget; `display` is the text the closed combo shows for it.
    int AddItem(QWidget* item, const std::string& display);
    int GetCount() const { return static_cast<int>(items_.size()); }
    CControlUI* GetItemAt(int index) const;
    int GetItemIndex(const CControlUI* item) const;
    int GetCurSel() const { return currentIndex(); }
    // Selects without a notification; false for an index out of range.
    bool SelectItem(int index);
    void RemoveAll();

    void showPopup() override;
    void hidePopup() override;
    bool IsPopupShown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PickItem(int index);
    QFrame* popup_ = nullptr;  // the pop-up window
    QFrame* list_ = nullptr;   // the items, inside it
    std::vector<QPointer<QWidget>> items_;
};

// Looks through `root` and everything below it for a control named `name`.
CControlUI* FindControlIn(QWidget* root, const std::string& name);

// Null-safe forms for controls that a skin may leave out.
inline void SetVisible(CControlUI* control, bool visible) {
    if (control) control->SetVisible(visible);
}

inline void SetText(CControlUI* control, const std::string& text) {
    if (control) control->SetText(text);
}

inline std::string TextOf(const CControlUI* control) { return control ? control->GetText() : std::string(); }

}  // namespace ui
