#include "duilib/UIWindow.h"

#include "WindowHost.h"
#include "WindowRouter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace DuiLib {

WindowHost::WindowHost(CWindowWnd& owner, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), owner_(owner) {
    setProperty(kWindowHostProperty, true);
}

bool WindowHost::event(QEvent* event) {
    if (event->type() == WindowMessageEvent::kType) {
        const auto* message = static_cast<WindowMessageEvent*>(event);
        owner_.deliver(message->msg, message->wParam, message->lParam);
        return true;
    }
    return QWidget::event(event);
}

void WindowHost::closeEvent(QCloseEvent* event) {
    if (owner_.closing_) {
        event->accept();
        return;
    }
    // The close box asks the window; it decides whether and how to close.
    event->ignore();
    owner_.deliver(WM_CLOSE, 0, 0);
}

void WindowHost::keyPressEvent(QKeyEvent* event) {
    WPARAM key = 0;
    if (event->key() == Qt::Key_Escape) {
        key = VK_ESCAPE;
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        key = VK_RETURN;
    }
    if (key != 0) {
        owner_.deliver(WM_KEYDOWN, key, 0);
        return;
    }
    QWidget::keyPressEvent(event);
}

void WindowHost::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!owner_.shown_) {
        owner_.shown_ = true;
        owner_.OnFirstShow();
    }
}

CWindowWnd::CWindowWnd() : alive_(std::make_shared<bool>(true)) {}

CWindowWnd::~CWindowWnd() {
    *alive_ = false;
    if (hwnd_ != 0) {
        WindowRouter::remove(hwnd_);
    }
}

QWidget* CWindowWnd::GetWidget() const {
    return host_.get();
}

namespace {

Qt::WindowFlags flagsFor(DWORD style, bool hasParent) {
    if ((style & UI_WNDSTYLE_CHILD) != 0 && hasParent) {
        return Qt::Widget;
    }
    if ((style & UI_WNDSTYLE_DIALOG) != 0) {
        return Qt::Dialog;
    }
    return Qt::Window;
}

// Puts `host` inside a window of another program, where the windowing system allows it.
void embedInForeignWindow(QWidget* host, HWND parent) {
    if (QGuiApplication::platformName() != "xcb") {
        return; // shown as a window of its own instead
    }
    QWindow* foreign = QWindow::fromWinId(static_cast<WId>(parent));
    if (foreign == nullptr) {
        return;
    }
    foreign->setParent(nullptr);
    host->winId();
    host->windowHandle()->setParent(foreign);
    QObject::connect(host, &QObject::destroyed, foreign, &QObject::deleteLater);
}

} // namespace

HWND CWindowWnd::Create(HWND parent, const char* name, DWORD style, DWORD, int x, int y, int cx,
                        int cy) {
    if (host_ != nullptr) {
        return hwnd_;
    }
    CWindowWnd* local = WindowRouter::find(parent);
    QWidget* parentWidget = local != nullptr ? local->GetWidget() : nullptr;
    host_ =
        std::make_unique<WindowHost>(*this, parentWidget, flagsFor(style, parentWidget != nullptr));
    host_->setObjectName(GetWindowClassName());
    if (name != nullptr) {
        host_->setWindowTitle(QString::fromUtf8(name));
    }
    if (parent != 0 && local == nullptr) {
        embedInForeignWindow(host_.get(), parent);
    }
    hwnd_ = WindowRouter::allocate(host_.get());
    WindowRouter::add(hwnd_, this, host_.get());
    OnCreate();
    if (cx > 0 && cy > 0) {
        host_->setGeometry(x, y, cx, cy);
    }
    return hwnd_;
}

HWND CWindowWnd::CreateChild(QWidget* container, const char* name) {
    if (host_ != nullptr || container == nullptr) {
        return hwnd_;
    }
    host_ = std::make_unique<WindowHost>(*this, container, Qt::Widget);
    host_->setObjectName(GetWindowClassName());
    if (name != nullptr) {
        host_->setWindowTitle(QString::fromUtf8(name));
    }
    if (container->layout() == nullptr) {
        auto* layout = new QVBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    container->layout()->addWidget(host_.get());
    hwnd_ = WindowRouter::allocate(host_.get());
    WindowRouter::add(hwnd_, this, host_.get());
    OnCreate();
    return hwnd_;
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
    if (host_ == nullptr) {
        return;
    }
    host_->setVisible(show);
    if (show && takeFocus) {
        host_->raise();
        host_->activateWindow();
    }
}

UINT CWindowWnd::ShowModal() {
    if (host_ == nullptr) {
        return IDCANCEL;
    }
    modal_ = true;
    closing_ = false;
    result_ = IDCANCEL;
    host_->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    modalLoop_ = &loop;
    const auto alive = alive_;
    host_->show();
    loop.exec();
    if (!*alive) {
        return IDCANCEL;
    }
    modalLoop_ = nullptr;
    modal_ = false;
    const UINT result = result_;
    finish();
    return result;
}

void CWindowWnd::Close(UINT result) {
    if (host_ == nullptr || closing_) {
        return;
    }
    result_ = result;
    closing_ = true;
    host_->close();
    if (modalLoop_ != nullptr) {
        modalLoop_->quit();
        return;
    }
    // The window object may delete itself in OnFinalMessage: do that outside the handler that
    // is closing it.
    std::weak_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        qApp,
        [this, alive] {
            if (const auto living = alive.lock(); living && *living) {
                finish();
            }
        },
        Qt::QueuedConnection);
}

void CWindowWnd::finish() {
    const HWND hwnd = hwnd_;
    WindowRouter::remove(hwnd_);
    hwnd_ = 0;
    host_.reset();
    OnFinalMessage(hwnd); // may delete this
}

void CWindowWnd::OnFinalMessage(HWND) {}

void CWindowWnd::CenterWindow() {
    if (host_ == nullptr) {
        return;
    }
    const QWidget* parent = host_->parentWidget();
    const QRect area =
        parent != nullptr ? parent->window()->geometry() : host_->screen()->availableGeometry();
    host_->move(area.center() - QPoint(host_->width() / 2, host_->height() / 2));
}

void CWindowWnd::ResizeClient(int cx, int cy) {
    if (host_ != nullptr) {
        host_->resize(cx >= 0 ? cx : host_->width(), cy >= 0 ? cy : host_->height());
    }
}

bool CWindowWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return WindowRouter::post(hwnd_, msg, wParam, lParam);
}

LRESULT CWindowWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return HandleMessage(msg, wParam, lParam);
}

void CWindowWnd::deliver(UINT msg, WPARAM wParam, LPARAM lParam) {
    HandleMessage(msg, wParam, lParam);
}

LRESULT CWindowWnd::HandleMessage(UINT msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) {
        Close(IDCANCEL);
    }
    return 0;
}

bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    return WindowRouter::post(window, msg, wParam, lParam);
}

bool IsWindow(HWND window) {
    return WindowRouter::exists(window);
}

void CWindowImplUIBase::OnCreate() {
    m_PaintManager.LoadSkin(GetSkinFile(), GetWidget(), this);
    m_PaintManager.AddNotifier(this);
    m_PaintManager.AddMessageFilter(this);
    InitWindow();
}

void CWindowImplUIBase::OnFirstShow() {
    m_PaintManager.SendNotify(nullptr, kNotifyWindowInit);
}

void CWindowImplUIBase::Notify(TNotifyUI& msg) {
    if (msg.sType != kNotifyClick || msg.pSender == nullptr) {
        return;
    }
    const std::string name = msg.pSender->GetName();
    if (name == "Sure") {
        Close(IDOK);
    } else if (name == "Cancel") {
        Close(IDCANCEL);
    }
}

LRESULT CWindowImplUIBase::MessageHandler(UINT, WPARAM, LPARAM, bool&) {
    return 0;
}

CControlUI* CWindowImplUIBase::CreateControl(const char*) {
    return nullptr;
}

LRESULT CWindowImplUIBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (m_PaintManager.PreMessageHandler(msg, wParam, lParam, result)) {
        return result;
    }
    if (msg == kMsgShowWindow || msg == kMsgWindowCommand) {
        TNotifyUI notice;
        notice.sType = kNotifyWindowMessage;
        notice.uMsg = msg;
        notice.wParam = wParam;
        notice.lParam = lParam;
        m_PaintManager.SendNotify(notice);
        return 0;
    }
    if (msg == WM_KEYDOWN && IsModal()) {
        if (wParam == VK_RETURN) {
            Close(IDOK);
        } else if (wParam == VK_ESCAPE) {
            Close(IDCANCEL);
        }
        return 0;
    }
    return CWindowWnd::HandleMessage(msg, wParam, lParam);
}

} // namespace DuiLib
