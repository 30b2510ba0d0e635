#include "ui/toolkit/window.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUiLoader>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "core/message_ids.h"
#include "core/log_file.h"
#include "platform/paths.h"
#include "ui/toolkit/list.h"
#include "ui/toolkit/tree_view.h"
#include "ui/toolkit/ui_executor.h"

namespace ui {
namespace {

std::unordered_map<platform::WindowHandle, WindowImplBase*>& HandleMap() {
    static std::unordered_map<platform::WindowHandle, WindowImplBase*> windows;
    return windows;
}

ModalObserver& Observer() {
    static ModalObserver observer;
    return observer;
}

// Windows in a modal run, innermost last.
std::vector<WindowImplBase*>& ModalRuns() {
    static std::vector<WindowImplBase*> windows;
    return windows;
}

// Set once the program is quitting: the close code of every modal window.
std::function<int(WindowImplBase&)>& Ending() {
    static std::function<int(WindowImplBase&)> codeFor;
    return codeFor;
}

SkinErrorReporter& Reporter() {
    static SkinErrorReporter reporter;
    return reporter;
}

QString ReadText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

}  // namespace

// The toolkit's own controls stand in for the Qt classes a skin names, so skins can
// be drawn in Qt Designer with stock widgets; any other class is the window's.
class SkinLoader final : public QUiLoader {
public:
    explicit SkinLoader(WindowImplBase* creator) : creator_(creator) {}

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* widget = CreateKnown(className, parent);
        if (!widget && creator_) {
            if (CControlUI* control = creator_->CreateControl(className.toStdString(), parent))
                widget = control->GetWidget();
        }
        if (!widget) widget = QUiLoader::createWidget(className, parent, name);
        if (!widget) {
            // Unknown class: keep the form's shape with an empty container.
            core::LogWrite("skin class unknown: %s (%s)", className.toUtf8().constData(), name.toUtf8().constData());
            widget = new CContainerUI(parent);
        }
        widget->setObjectName(name);
        return widget;
    }

private:
    static QWidget* CreateKnown(const QString& c, QWidget* parent) {
        if (c == "QPushButton" || c == "QToolButton") return new CButtonUI(parent);
        if (c == "QCheckBox" || c == "QRadioButton") return new COptionUI(parent);
        if (c == "QLabel") return new CLabelUI(parent);
        if (c == "QLineEdit") return new CEditUI(parent);
        if (c == "QTextEdit" || c == "QPlainTextEdit") return new CRichEditUI(parent);
        if (c == "QComboBox") return new CComboUI(parent);
        if (c == "QProgressBar") return new CProgressUI(parent);
        if (c == "QSlider") return new CSliderUI(parent);
        if (c == "QWidget" || c == "QFrame") return new CContainerUI(parent);
        if (c == "QStackedWidget") return new CTabLayoutUI(parent);
        if (c == "QDateTimeEdit" || c == "QDateEdit" || c == "QTimeEdit") return new CDateTimeUI(parent);
        if (c == "QListView" || c == "QListWidget" || c == "CListUI") return new CListUI(parent);
        if (c == "QTreeView" || c == "QTreeWidget" || c == "CTreeViewUI") return new CTreeViewUI(parent);
        return nullptr;
    }
    WindowImplBase* creator_;
};

// One filter for the application: focus notifications and dragging a frameless
// window by its caption strip.
class WindowEventFilter final : public QObject {
public:
    static void Install() {
        static WindowEventFilter* filter = nullptr;
        if (filter || !qApp) return;
        filter = new WindowEventFilter;
        filter->setParent(qApp);
        qApp->installEventFilter(filter);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::FocusIn:
            case QEvent::FocusOut: OnFocus(watched, event->type() == QEvent::FocusIn); break;
            case QEvent::MouseButtonPress:
            case QEvent::MouseMove:
            case QEvent::MouseButtonRelease: return OnDrag(watched, static_cast<QMouseEvent*>(event));
            default: break;
        }
        return false;
    }

private:
    void OnFocus(QObject* watched, bool in) {
        auto* control = dynamic_cast<CControlUI*>(qobject_cast<QWidget*>(watched));
        if (control && control->GetManager())
            control->GetManager()->SendNotify(control, in ? notify::kSetFocus : notify::kKillFocus);
    }
    bool OnDrag(QObject* watched, QMouseEvent* event) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !dynamic_cast<WindowHost*>(widget->window())) return false;
        QWidget* top = widget->window();
        if (event->type() == QEvent::MouseButtonPress) {
            const bool plain = dynamic_cast<CContainerUI*>(widget) || dynamic_cast<CLabelUI*>(widget) || widget == top;
            const int caption = top->property("caption").isValid() ? top->property("caption").toInt() : 0;
            const QPoint at = widget->mapTo(top, event->position().toPoint());
            if (plain && event->button() == Qt::LeftButton && at.y() < caption) {
                dragging_ = top;
                dragOffset_ = event->globalPosition().toPoint() - top->pos();
                return true;
            }
            return false;
        }
        if (!dragging_) return false;
        if (event->type() == QEvent::MouseMove) {
            dragging_->move(event->globalPosition().toPoint() - dragOffset_);
            return true;
        }
        dragging_ = nullptr;
        return true;
    }
    QPointer<QWidget> dragging_;
    QPoint dragOffset_;
};

// Host -----------------------------------------------------------------------------

WindowHost::WindowHost(WindowImplBase& window, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), window_(window) {}

void WindowHost::closeEvent(QCloseEvent* event) {
    // Closing from outside (window manager) ends the window like Escape does.
    event->ignore();
    window_.Close(window_.EscapeResult());
}

// Enter and Escape reach the window when no control used them: edits, check boxes,
// buttons and lists pass them on, a multi-line edit keeps Enter for itself.
void WindowHost::keyPressEvent(QKeyEvent* event) {
    int key = event->key();
    if (key == Qt::Key_Enter) key = Qt::Key_Return;
    if ((key == Qt::Key_Return || key == Qt::Key_Escape) && window_.ResponseDefaultKeyEvent(key)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WindowHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    window_.OnSize(width(), height());
}

// Window ---------------------------------------------------------------------------

WindowImplBase::WindowImplBase() = default;

Qt::WindowFlags WindowImplBase::GetWindowFlags(bool owned) const {
    return (owned ? Qt::Dialog : Qt::Window) | Qt::FramelessWindowHint;
}

WindowImplBase::~WindowImplBase() {
    std::erase(ModalRuns(), this);
    DestroyHandle();
    if (loop_) loop_->quit();
    m_PaintManager.Shutdown();
    host_.reset();
}

void WindowImplBase::DestroyHandle() {
    if (!handle_) return;
    platform::DestroyWindowHandle(handle_);
    HandleMap().erase(handle_);
    handle_ = 0;
    m_PaintManager.Shutdown();
}

WindowImplBase* WindowFromHandle(platform::WindowHandle handle) {
    auto it = HandleMap().find(handle);
    return it == HandleMap().end() ? nullptr : it->second;
}

void SetModalObserver(ModalObserver observer) { Observer() = std::move(observer); }

void EndModalRuns(std::function<int(WindowImplBase&)> codeFor) {
    Ending() = std::move(codeFor);
    if (!Ending()) return;
    // A copy: closing a window may start or end other runs.
    const std::vector<WindowImplBase*> running = ModalRuns();
    for (auto it = running.rbegin(); it != running.rend(); ++it)
        if (std::find(ModalRuns().begin(), ModalRuns().end(), *it) != ModalRuns().end()) (*it)->Close(Ending()(**it));
}

void SetSkinErrorReporter(SkinErrorReporter reporter) { Reporter() = std::move(reporter); }

QString StyleSheetFor(const std::string& skinFolder, const std::string& skinFile) {
    const std::string& root = CPaintManagerUI::GetResourcePath();
    QString sheet = ReadText(platform::JoinPath(root, "skin.qss"));
    std::string own = skinFile;
    if (auto dot = own.rfind('.'); dot != std::string::npos) own.resize(dot);
    sheet += ReadText(platform::JoinPath(platform::JoinPath(root, skinFolder), own + ".qss"));
    // Pictures named in the sheet are found under the skin folder.
    sheet.replace("@skin@", QString::fromStdString(root));
    return sheet;
}

QWidget* LoadSkinWidget(const QByteArray& markup, QWidget* parent, WindowImplBase* creator, std::string& error) {
    QBuffer buffer;
    buffer.setData(markup);
    buffer.open(QIODevice::ReadOnly);
    SkinLoader loader(creator);
    loader.setWorkingDirectory(QDir(QString::fromStdString(CPaintManagerUI::GetResourcePath())));
    QWidget* root = loader.load(&buffer, parent);
    if (!root) error = loader.errorString().toStdString();
    return root;
}

QWidget* WindowImplBase::LoadSkinMarkup(const QByteArray& markup, QWidget* host, std::string& error) {
    return LoadSkinWidget(markup, host, this, error);
}

QWidget* WindowImplBase::LoadSkin(const QString& path, QWidget* host, std::string& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open";
        return nullptr;
    }
    return LoadSkinMarkup(file.readAll(), host, error);
}

bool WindowImplBase::Create(platform::WindowHandle parent, const std::string& caption) {
    if (host_) return IsCreated();
    WindowEventFilter::Install();
    WindowImplBase* owner = WindowFromHandle(parent);
    QWidget* ownerWidget = owner ? owner->GetWidget() : nullptr;
    host_ = std::make_unique<WindowHost>(*this, ownerWidget, GetWindowFlags(ownerWidget != nullptr));
    host_->setWindowTitle(QString::fromStdString(caption));
    host_->setObjectName(QString::fromStdString(GetWindowClassName()));

    const std::string folder = GetSkinFolder();
    const std::string file = GetSkinFile();
    const std::string path =
        platform::JoinPath(platform::JoinPath(CPaintManagerUI::GetResourcePath(), folder), file);
    std::string error;
    skinRoot_ = LoadSkin(QString::fromStdString(path), host_.get(), error);
    if (!skinRoot_) {
        core::LogWrite("skin file cannot be loaded: %s (%s)", path.c_str(), error.c_str());
        const std::string fallback = GetFallbackSkin();
        if (!fallback.empty()) skinRoot_ = LoadSkinMarkup(QByteArray::fromStdString(fallback), host_.get(), error);
        if (Reporter()) Reporter()("界面文件加载失败: " + path);
    }
    if (!skinRoot_) {
        host_.reset();
        return false;
    }

    auto* layout = new QVBoxLayout(host_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(skinRoot_);
    host_->setStyleSheet(StyleSheetFor(folder, file));
    const QVariant caption_height = skinRoot_->property("caption");
    host_->setProperty("caption", caption_height.isValid() ? caption_height : QVariant(32));
    QSize minimum = skinRoot_->minimumSize(), maximum = skinRoot_->maximumSize();
    OnGetMinMaxInfo(minimum, maximum);
    host_->setMinimumSize(minimum);
    host_->setMaximumSize(maximum);
    host_->resize(skinRoot_->size().expandedTo(minimum).boundedTo(maximum));

    handle_ = platform::CreateWindowHandle([this](platform::Message& msg) { return Dispatch(msg); }, UiExecutor());
    HandleMap()[handle_] = this;
    m_PaintManager.Init(skinRoot_, this, this);
    InitWindow();
    m_PaintManager.SendNotify(nullptr, notify::kWindowInit);
    return true;
}

std::intptr_t WindowImplBase::Dispatch(platform::Message& msg) {
    bool handled = false;
    return HandleMessage(msg, handled);
}

bool WindowImplBase::OnTimerMessage(std::uintptr_t id, CControlUI* control) {
    platform::Message msg(core::kWmTimer, id, reinterpret_cast<std::intptr_t>(control));
    bool handled = false;
    HandleMessage(msg, handled);
    return handled;
}

bool WindowImplBase::ResponseDefaultKeyEvent(int key) {
    if (key == Qt::Key_Escape) {
        Close(EscapeResult());
        return true;
    }
    return false;
}

void WindowImplBase::CenterWindow() {
    if (!host_) return;
    QRect area;
    if (QWidget* parent = host_->parentWidget())
        area = QRect(parent->mapToGlobal(QPoint()), parent->size());
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) host_->move(area.center() - QPoint(host_->width() / 2, host_->height() / 2));
}

void WindowImplBase::ShowWindow(bool show) {
    if (host_) host_->setVisible(show);
}

int WindowImplBase::ShowModal() {
    if (!IsCreated()) return -1;
    if (closed_) return result_;
    host_->setWindowModality(Qt::ApplicationModal);
    host_->show();
    host_->raise();
    host_->activateWindow();
    QEventLoop loop;
    loop_ = &loop;
    ModalRuns().push_back(this);
    // Told before the loop starts, so every modal run is seen exactly once.
    if (Observer()) Observer()(*this);
    if (Ending() && !closed_) Close(Ending()(*this));
    if (!closed_) loop.exec();
    std::erase(ModalRuns(), this);
    loop_ = nullptr;
    return result_;
}

void WindowImplBase::Close(int code) {
    if (closed_) return;
    closed_ = true;
    result_ = code;
    OnClose();
    if (host_) host_->hide();
    if (loop_) loop_->quit();
}

// Item templates ------------------------------------------------------------------

QWidget* CDialogBuilder::Create(const std::string& skinFile, CPaintManagerUI& manager, QWidget* parent,
                                WindowImplBase* creator) {
    if (file_ != skinFile || markup_.isEmpty()) {
        QFile file(QString::fromStdString(platform::JoinPath(CPaintManagerUI::GetResourcePath(), skinFile)));
        if (!file.open(QIODevice::ReadOnly)) {
            core::LogWrite("item template missing: %s", skinFile.c_str());
            return nullptr;
        }
        file_ = skinFile;
        markup_ = file.readAll();
    }
    std::string error;
    QWidget* item = LoadSkinWidget(markup_, parent, creator, error);
    if (!item) {
        core::LogWrite("item template unreadable: %s (%s)", skinFile.c_str(), error.c_str());
        return nullptr;
    }
    manager.AttachControls(item);
    return item;
}

}  // namespace ui
