#include "ui/toolkit/control.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVBoxLayout>

#include "ui/toolkit/paint_manager.h"

namespace ui {

void CControlUI::SetBkImage(const std::string& attr) { bkImage_ = ShareImage(attr); }

const std::string& CControlUI::GetBkImage() const {
    static const std::string kNone;
    return bkImage_ ? bkImage_->text : kNone;
}

const ImageAttr& CControlUI::BkImageAttr() const {
    static const ImageAttr kNone;
    return bkImage_ ? bkImage_->attr : kNone;
}

void CControlUI::Notify(const char* type, std::uintptr_t wParam, std::intptr_t lParam) {
    if (manager_) manager_->SendNotify(this, type, wParam, lParam);
}

CControlUI* ParentControlOf(const QWidget* widget) {
    for (QWidget* parent = widget ? widget->parentWidget() : nullptr; parent; parent = parent->parentWidget())
        if (auto* control = dynamic_cast<CControlUI*>(parent)) return control;
    return nullptr;
}

CControlUI* FindControlIn(QWidget* root, const std::string& name) {
    if (!root || name.empty()) return nullptr;
    const QString wanted = QString::fromStdString(name);
    if (root->objectName() == wanted)
        if (auto* control = dynamic_cast<CControlUI*>(root)) return control;
    // Several widgets may carry the name (one of them not a control): take the first control.
    for (QWidget* widget : root->findChildren<QWidget*>(wanted))
        if (auto* control = dynamic_cast<CControlUI*>(widget)) return control;
    return nullptr;
}

template <class QtBase>
void CWidgetControl<QtBase>::PaintBkImage(QPaintEvent*) {
    if (!bkImage_) return;
    QPainter painter(this);
    PaintImage(painter, this->rect(), bkImage_->attr);
}

void CContainerUI::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    PaintBkImage(event);
}

void CLabelUI::paintEvent(QPaintEvent* event) {
    if (bkImage_) PaintBkImage(event);
    QLabel::paintEvent(event);
}

// Buttons ------------------------------------------------------------------------

CButtonUI::CButtonUI(QWidget* parent) : CWidgetControl(parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
}

void CButtonUI::Attach(CPaintManagerUI* manager) {
    if (GetManager()) return;
    CControlUI::Attach(manager);
    // State images may come with the skin as string properties.
    const char* names[kStates] = {"normalimage", "hotimage", "pushedimage", "disabledimage"};
    for (int state = 0; state < kStates; ++state) {
        const QVariant attr = property(names[state]);
        if (attr.isValid() && imageText_[state].empty()) SetStateImage(State(state), attr.toString().toStdString());
    }
    connect(this, &QPushButton::clicked, this, [this] {
        if (held_) EndHold();  // a click from code has no release of its own
        Notify(notify::kClick);
    });
    connect(this, &QPushButton::pressed, this, [this] {
        held_ = true;
        Notify(notify::kButtonDown);
    });
}

void CButtonUI::EndHold() {
    held_ = false;
    Notify(notify::kButtonUp);
}

void CButtonUI::mouseReleaseEvent(QMouseEvent* event) {
    // Qt clicks only when the pointer is still over the button; whoever started
    // something on the press must hear of a release elsewhere too.
    if (held_ && event->button() == Qt::LeftButton) EndHold();
    QPushButton::mouseReleaseEvent(event);
}

void CButtonUI::keyReleaseEvent(QKeyEvent* event) {
    if (held_ && !event->isAutoRepeat() && event->key() == Qt::Key_Space) EndHold();
    QPushButton::keyReleaseEvent(event);
}

void CButtonUI::focusOutEvent(QFocusEvent* event) {
    if (held_) {
        EndHold();
        setDown(false);
    }
    QPushButton::focusOutEvent(event);
}

bool CButtonUI::event(QEvent* event) {
    // The window lost the activation while the button was held: the release may never
    // reach us.
    if (event->type() == QEvent::WindowDeactivate && held_) {
        EndHold();
        setDown(false);
    }
    return QPushButton::event(event);
}

void CButtonUI::hideEvent(QHideEvent* event) {
    if (held_) {
        EndHold();
        setDown(false);
    }
    QPushButton::hideEvent(event);
}

void CButtonUI::SetStateImage(State state, const std::string& attr) {
    imageText_[state] = attr;
    image_[state] = ParseImageAttr(attr);
    update();
}

void CButtonUI::SetNormalImage(const std::string& attr) { SetStateImage(kNormal, attr); }
void CButtonUI::SetHotImage(const std::string& attr) { SetStateImage(kHot, attr); }
void CButtonUI::SetPushedImage(const std::string& attr) { SetStateImage(kPushed, attr); }
void CButtonUI::SetDisabledImage(const std::string& attr) { SetStateImage(kDisabled, attr); }

void CButtonUI::paintEvent(QPaintEvent* event) {
    if (image_[kNormal].empty() && !bkImage_) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    PaintImage(painter, rect(), BkImageAttr());
    State state = kNormal;
    if (!isEnabled())
        state = kDisabled;
    else if (isDown())
        state = kPushed;
    else if (underMouse())
        state = kHot;
    const ImageAttr& image = image_[state].empty() ? image_[kNormal] : image_[state];
    PaintImage(painter, rect(), image);
    if (!text().isEmpty()) {
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
}

// Options ------------------------------------------------------------------------

void COptionUI::Attach(CPaintManagerUI* manager) {
    if (GetManager()) return;
    CControlUI::Attach(manager);
    // The state has already changed when these arrive.
    connect(this, &QCheckBox::clicked, this, [this] { Notify(notify::kClick); });
    connect(this, &QCheckBox::toggled, this, [this](bool) {
        if (!quiet_) Notify(notify::kSelectChanged);
    });
    // Exclusive groups: a "group" property names the group.
    const QVariant group = property("group");
    if (group.isValid() && !group.toString().isEmpty()) {
        connect(this, &QCheckBox::toggled, this, [this, name = group.toString()](bool on) {
            if (!on || !parentWidget()) return;
            for (COptionUI* other : window()->findChildren<COptionUI*>())
                if (other != this && other->property("group").toString() == name) other->Selected(false, false);
        });
    }
}

void COptionUI::Selected(bool selected, bool sendNotify) {
    quiet_ = !sendNotify;
    setChecked(selected);
    quiet_ = false;
}

// Edits --------------------------------------------------------------------------

void CEditUI::Attach(CPaintManagerUI* manager) {
    if (GetManager()) return;
    CControlUI::Attach(manager);
    connect(this, &QLineEdit::textEdited, this, [this](const QString&) { Notify(notify::kTextChanged); });
    connect(this, &QLineEdit::returnPressed, this, [this] { Notify(notify::kReturn); });
}

void CRichEditUI::Attach(CPaintManagerUI* manager) {
    if (GetManager()) return;
    CControlUI::Attach(manager);
    connect(this, &QTextEdit::textChanged, this, [this] { Notify(notify::kTextChanged); });
}

CSliderUI::CSliderUI(QWidget* parent) : CWidgetControl(parent) { setOrientation(Qt::Horizontal); }

void CSliderUI::Attach(CPaintManagerUI* manager) {
    if (GetManager()) return;
    CControlUI::Attach(manager);
    connect(this, &QSlider::valueChanged, this, [this](int value) { Notify(notify::kValueChanged, value); });
}

bool CTabLayoutUI::SelectItem(int index) {
    if (index < 0 || index >= count()) return false;
    setCurrentIndex(index);
    return true;
}

void CDateTimeUI::Attach(CPaintManagerUI* manager) {
    if (GetManager()) return;
    CControlUI::Attach(manager);
    connect(this, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime&) { Notify(notify::kTextChanged); });
}

// Combo --------------------------------------------------------------------------

CComboUI::CComboUI(QWidget* parent) : CWidgetControl(parent) {
    popup_ = new QFrame(this, Qt::Popup);
    popup_->setObjectName("comboPopupWindow");
    auto* window = new QVBoxLayout(popup_);
    window->setContentsMargins(0, 0, 0, 0);
    // The skin styles the list ("comboPopup"), a plain child: a pop-up window itself
    // keeps the system's light window colour whatever the sheet says.
    list_ = new QFrame(popup_);
    list_->setObjectName("comboPopup");
    window->addWidget(list_);
    auto* layout = new QVBoxLayout(list_);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
}

CComboUI::~CComboUI() = default;

int CComboUI::AddItem(QWidget* item, const std::string& display) {
    item->setParent(list_);
    item->setAttribute(Qt::WA_Hover);  // the skin marks the item under the pointer
    list_->layout()->addWidget(item);
    item->installEventFilter(this);
    for (QWidget* child : item->findChildren<QWidget*>())
        if (!dynamic_cast<QAbstractButton*>(child)) child->installEventFilter(this);
    items_.emplace_back(item);
    QComboBox::addItem(QString::fromStdString(display));
    return static_cast<int>(items_.size()) - 1;
}

CControlUI* CComboUI::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return dynamic_cast<CControlUI*>(items_[index].data());
}

int CComboUI::GetItemIndex(const CControlUI* item) const {
    for (int i = 0; i < GetCount(); ++i)
        if (GetItemAt(i) == item) return i;
    return -1;
}

bool CComboUI::SelectItem(int index) {
    if (index < 0 || index >= GetCount()) return false;
    setCurrentIndex(index);
    return true;
}

void CComboUI::RemoveAll() {
    hidePopup();
    for (auto& item : items_) delete item.data();
    items_.clear();
    QComboBox::clear();
}

void CComboUI::showPopup() {
    if (items_.empty()) return;
    // The skin marks the chosen item ([current="true"]).
    for (int i = 0; i < GetCount(); ++i) {
        QWidget* item = items_[i].data();
        if (!item || item->property("current").toBool() == (i == currentIndex())) continue;
        item->setProperty("current", i == currentIndex());
        item->style()->unpolish(item);
        item->style()->polish(item);
    }
    popup_->setMinimumWidth(width());
    popup_->adjustSize();
    QPoint below = mapToGlobal(QPoint(0, height()));
    popup_->move(below);
    popup_->show();
}

void CComboUI::hidePopup() { popup_->hide(); }

bool CComboUI::IsPopupShown() const { return popup_->isVisible(); }

bool CComboUI::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* widget = qobject_cast<QWidget*>(watched);
        for (int i = 0; widget && i < GetCount(); ++i) {
            QWidget* item = items_[i].data();
            if (item && (item == widget || item->isAncestorOf(widget))) {
                PickItem(i);
                return true;
            }
        }
    }
    if (event->type() == QEvent::Hide && popup_->isVisible()) popup_->adjustSize();
    return QComboBox::eventFilter(watched, event);
}

void CComboUI::PickItem(int index) {
    hidePopup();
    const int previous = currentIndex();
    setCurrentIndex(index);
    Notify(notify::kItemSelect, static_cast<std::uintptr_t>(index), previous);
}

}  // namespace ui
