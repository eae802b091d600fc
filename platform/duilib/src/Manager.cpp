#include "duilib/UIManager.h"

#include "ControlFactory.h"
#include "LanguageApply.h"
#include "LanguageStore.h"
#include "SignalBridge.h"
#include "SkinLoader.h"
#include "sys/Tick.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace DuiLib {

namespace {

struct ProgramFolders {
    std::string instance;
    std::string resource;
};

ProgramFolders& folders() {
    static ProgramFolders value;
    return value;
}

// Every live manager, so a language switch reaches every open window (UI thread only).
std::vector<CPaintManagerUI*>& liveManagers() {
    static std::vector<CPaintManagerUI*> managers;
    return managers;
}

std::string withSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

bool isInternalName(const QString& name) {
    return name.isEmpty() || name.startsWith("qt_");
}

} // namespace

// Set on the widget of every window, so a window's search stops at pages hosted inside it.
const char* const kWindowHostProperty = "duiWindowHost";

namespace {} // namespace

CPaintManagerUI::CPaintManagerUI() : alive_(std::make_shared<bool>(true)) {
    liveManagers().push_back(this);
}

CPaintManagerUI::~CPaintManagerUI() {
    *alive_ = false;
    auto& managers = liveManagers();
    managers.erase(std::remove(managers.begin(), managers.end(), this), managers.end());
    for (auto& [key, timer] : timers_) {
        delete timer;
    }
    // Controls go before the widgets they wrap; widgets are owned by the window.
    controls_.clear();
}

void CPaintManagerUI::SetInstance(const std::string& programFile) {
    folders().instance =
        withSeparator(QFileInfo(QString::fromStdString(programFile)).absolutePath().toStdString());
}

std::string CPaintManagerUI::GetInstancePath() {
    return folders().instance;
}

void CPaintManagerUI::SetResourcePath(const std::string& folder) {
    folders().resource = withSeparator(folder);
    // The skin folder's look for every window of the program.
    QFile theme(QString::fromStdString(folders().resource + "theme.qss"));
    if (qApp != nullptr && theme.open(QIODevice::ReadOnly)) {
        qApp->setStyleSheet(QString::fromUtf8(theme.readAll()));
    }
}

std::string CPaintManagerUI::GetResourcePath() {
    return folders().resource;
}

int CPaintManagerUI::MessageLoop() {
    return QApplication::exec();
}

void CPaintManagerUI::Term(int code) {
    QApplication::exit(code);
}

std::string CPaintManagerUI::FindLgText(const std::string& key) {
    return LanguageStore::instance().text(key);
}

bool CPaintManagerUI::FindLgText(const std::string& key, std::string& text, std::string& caption) {
    return LanguageStore::instance().find(key, text, caption);
}

bool CPaintManagerUI::ReLoadLanguageFile(const std::string& path, int index) {
    if (!LanguageStore::instance().load(path, index)) {
        return false;
    }
    for (CPaintManagerUI* manager : liveManagers()) {
        manager->ApplyLanguage();
    }
    return true;
}

int CPaintManagerUI::GetLanguageState() {
    return LanguageStore::instance().index();
}

std::string CPaintManagerUI::resourceFolder() const {
    return resourceFolder_.empty() ? GetResourcePath() : resourceFolder_;
}

void CPaintManagerUI::UseParentResource(CPaintManagerUI* parent) {
    if (parent != nullptr) {
        resourceFolder_ = parent->resourceFolder();
    }
}

bool CPaintManagerUI::LoadSkin(const std::string& skinFile, QWidget* host,
                               IDialogBuilderCallback* builder) {
    if (host == nullptr) {
        return false;
    }
    QFile file(
        QDir(QString::fromStdString(resourceFolder())).filePath(QString::fromStdString(skinFile)));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    host_ = host;
    SkinLoader loader(*this, builder);
    QWidget* root = loader.load(&file, host);
    if (root == nullptr) {
        return false;
    }
    if (host->layout() == nullptr) {
        auto* layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    host->layout()->addWidget(root);
    if (host->isWindow()) {
        host->setWindowTitle(root->windowTitle());
        host->resize(root->size());
    }
    root_ = ControlOf(root);
    adoptTree(root);
    ApplyLanguage();
    return true;
}

bool CPaintManagerUI::AttachDialog(CControlUI* root, QWidget* host) {
    if (root == nullptr || host == nullptr || root->GetWidget() == nullptr) {
        return false;
    }
    host_ = host;
    Adopt(root);
    if (host->layout() == nullptr) {
        auto* layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    host->layout()->addWidget(root->GetWidget());
    root_ = root;
    adoptTree(root->GetWidget());
    return true;
}

// Whether `widget` belongs to this window rather than to a page window hosted inside it.
bool CPaintManagerUI::isOwnWidget(const QWidget* widget) const {
    for (const QWidget* up = widget; up != nullptr && up != host_; up = up->parentWidget()) {
        if (up->property(kWindowHostProperty).toBool()) {
            return false;
        }
    }
    return true;
}

void CPaintManagerUI::adoptTree(QWidget* root) {
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* widget : children) {
        if (!isInternalName(widget->objectName()) && isOwnWidget(widget)) {
            ControlOf(widget);
        }
    }
}

CControlUI* CPaintManagerUI::ControlOf(QWidget* widget) {
    if (widget == nullptr) {
        return nullptr;
    }
    const auto found = controls_.find(widget);
    if (found != controls_.end()) {
        return found->second.get();
    }
    std::unique_ptr<CControlUI> control = makeControl(widget);
    CControlUI* raw = control.get();
    raw->attach(this);
    controls_.emplace(widget, std::move(control));
    QObject::connect(widget, &QObject::destroyed, [this, widget, alive = alive_] {
        if (*alive) {
            controls_.erase(widget);
        }
    });
    connectSignals(widget);
    return raw;
}

void CPaintManagerUI::Adopt(CControlUI* control) {
    QWidget* widget = control != nullptr ? control->GetWidget() : nullptr;
    if (widget == nullptr) {
        return;
    }
    control->attach(this);
    // A program's control replaces the plain one the skin gave the same widget.
    const bool known = controls_.count(widget) != 0;
    controls_[widget] = std::unique_ptr<CControlUI>(control);
    if (known) {
        return;
    }
    QObject::connect(widget, &QObject::destroyed, [this, widget, alive = alive_] {
        if (*alive) {
            controls_.erase(widget);
        }
    });
    connectSignals(widget);
}

void CPaintManagerUI::connectSignals(QWidget* widget) {
    bridgeSignals(*this, widget, [this, widget](const char* type, WPARAM wParam, LPARAM lParam) {
        SendNotify(ControlOf(widget), type, wParam, lParam);
    });
}

CControlUI* CPaintManagerUI::FindControl(const std::string& name) {
    QWidget* root = host_;
    if (root == nullptr || name.empty()) {
        return nullptr;
    }
    const QString wanted = QString::fromStdString(name);
    if (root->objectName() == wanted) {
        return ControlOf(root);
    }
    for (QWidget* widget : root->findChildren<QWidget*>(wanted)) {
        if (isOwnWidget(widget)) {
            return ControlOf(widget);
        }
    }
    return nullptr;
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, const std::string& name) {
    if (parent == nullptr || parent->GetWidget() == nullptr) {
        return nullptr;
    }
    return ControlOf(parent->GetWidget()->findChild<QWidget*>(QString::fromStdString(name)));
}

bool CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
    if (notifier == nullptr ||
        std::find(notifiers_.begin(), notifiers_.end(), notifier) != notifiers_.end()) {
        return false;
    }
    notifiers_.push_back(notifier);
    return true;
}

bool CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
    const auto found = std::find(notifiers_.begin(), notifiers_.end(), notifier);
    if (found == notifiers_.end()) {
        return false;
    }
    notifiers_.erase(found);
    return true;
}

bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) {
    if (filter == nullptr ||
        std::find(filters_.begin(), filters_.end(), filter) != filters_.end()) {
        return false;
    }
    filters_.push_back(filter);
    return true;
}

bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter) {
    const auto found = std::find(filters_.begin(), filters_.end(), filter);
    if (found == filters_.end()) {
        return false;
    }
    filters_.erase(found);
    return true;
}

bool CPaintManagerUI::PreMessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const auto filters = filters_; // a filter may remove itself
    for (IMessageFilterUI* filter : filters) {
        bool handled = false;
        const LRESULT value = filter->MessageHandler(msg, wParam, lParam, handled);
        if (handled) {
            result = value;
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg) {
    msg.dwTimestamp = sys::tickMs();
    if (host_ != nullptr) {
        const QPoint cursor = host_->mapFromGlobal(QCursor::pos());
        msg.ptMouse = {cursor.x(), cursor.y()};
    }
    const auto notifiers = notifiers_; // a handler may add or remove notifiers
    const auto alive = alive_;
    for (INotifyUI* notifier : notifiers) {
        notifier->Notify(msg);
        if (!*alive) {
            return; // the handler closed the window
        }
    }
}

void CPaintManagerUI::SendNotify(CControlUI* control, const std::string& type, WPARAM wParam,
                                 LPARAM lParam) {
    TNotifyUI msg;
    msg.sType = type;
    msg.pSender = control;
    msg.wParam = wParam;
    msg.lParam = lParam;
    SendNotify(msg);
}

void CPaintManagerUI::PostNotify(CControlUI* control, const std::string& type, WPARAM wParam,
                                 LPARAM lParam) {
    QWidget* widget = control != nullptr ? control->GetWidget() : nullptr;
    std::weak_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        qApp,
        [this, alive, widget, control, type, wParam, lParam] {
            const auto manager = alive.lock();
            if (!manager || !*manager) {
                return;
            }
            // The control may have gone with its widget meanwhile.
            if (control != nullptr && controls_.count(widget) == 0) {
                return;
            }
            SendNotify(control, type, wParam, lParam);
        },
        Qt::QueuedConnection);
}

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapseMs) {
    if (host_ == nullptr || elapseMs == 0) {
        return false;
    }
    KillTimer(control, id);
    auto* timer = new QTimer(host_);
    QObject::connect(timer, &QTimer::timeout,
                     [this, control, id] { SendNotify(control, kNotifyTimer, id, 0); });
    timer->start(static_cast<int>(elapseMs));
    timers_[{control, id}] = timer;
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
    const auto found = timers_.find({control, id});
    if (found == timers_.end()) {
        return false;
    }
    found->second->stop();
    found->second->deleteLater();
    timers_.erase(found);
    return true;
}

void CPaintManagerUI::KillTimer(CControlUI* control) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->first.first == control) {
            it->second->stop();
            it->second->deleteLater();
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintManagerUI::AddAnimJob(int durationMs) {
    if (host_ == nullptr) {
        return;
    }
    QWidget* window = host_->window();
    auto* fade = new QPropertyAnimation(window, "windowOpacity", window);
    fade->setDuration(std::max(1, durationMs));
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void CPaintManagerUI::ApplyLanguage() {
    if (host_ != nullptr) {
        applyLanguageTexts(host_);
    }
}

} // namespace DuiLib
