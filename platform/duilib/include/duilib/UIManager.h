#pragma once

// One window's controls: builds them from a skin file, finds them by name, turns what the user
// does into notifications for the window's handlers, and runs control timers. The static part
// holds what all windows of the program share: program and skin folders, the language texts and
// the message loop.

#include "duilib/UIControl.h"
#include "duilib/UIDefine.h"

#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QTimer;
class QWidget;

namespace DuiLib {

extern const char* const kWindowHostProperty;

class CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // Program-wide settings.
    static void SetInstance(const std::string& programFile);
    static std::string GetInstancePath(); // folder of the program, with a trailing separator
    static void SetResourcePath(const std::string& folder);
    static std::string GetResourcePath();
    // Runs the program's event loop until Term() or the last main window quits it.
    static int MessageLoop();
    static void Term(int code = 0);

    // Language texts of the current language file (any thread).
    static std::string FindLgText(const std::string& key);
    static bool FindLgText(const std::string& key, std::string& text, std::string& caption);
    // Switches the language file; every open window shows the new texts at once.
    static bool ReLoadLanguageFile(const std::string& path, int index);
    static int GetLanguageState();

    // Builds the controls of `skinFile` (a Designer file under the resource folder) into `host`.
    // Class names the toolkit does not know go to `builder` first.
    bool LoadSkin(const std::string& skinFile, QWidget* host,
                  IDialogBuilderCallback* builder = nullptr);
    // Takes a root control made by a program instead of a skin.
    bool AttachDialog(CControlUI* root, QWidget* host);
    // Shares the resource folder of another window (child pages of a window).
    void UseParentResource(CPaintManagerUI* parent);
    std::string resourceFolder() const;

    QWidget* GetPaintWindow() const { return host_; }
    CControlUI* GetRoot() const { return root_; }
    CControlUI* FindControl(const std::string& name);
    CControlUI* FindSubControlByName(CControlUI* parent, const std::string& name);
    template <typename T> T* FindControlAs(const std::string& name) {
        return dynamic_cast<T*>(FindControl(name));
    }
    // The control object of a widget of this window (made on first use).
    CControlUI* ControlOf(QWidget* widget);
    // Puts a program-made control under this manager's care (containers call it on Add).
    void Adopt(CControlUI* control);

    bool AddNotifier(INotifyUI* notifier);
    bool RemoveNotifier(INotifyUI* notifier);
    bool AddMessageFilter(IMessageFilterUI* filter);
    bool RemoveMessageFilter(IMessageFilterUI* filter);
    // Runs the message filters; true when one handled the message.
    bool PreMessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    void SendNotify(TNotifyUI& msg);
    void SendNotify(CControlUI* control, const std::string& type, WPARAM wParam = 0,
                    LPARAM lParam = 0);
    // Delivered later on the window's thread; safe from any thread.
    void PostNotify(CControlUI* control, const std::string& type, WPARAM wParam = 0,
                    LPARAM lParam = 0);

    // "timer" notifications with the id in wParam every `elapseMs` until killed.
    bool SetTimer(CControlUI* control, UINT id, UINT elapseMs);
    bool KillTimer(CControlUI* control, UINT id);
    void KillTimer(CControlUI* control);

    // The window fades in over `durationMs`.
    void AddAnimJob(int durationMs);

    // Shows the current language's texts in every control that names a key (dynamic property
    // "lgkey" for the text or title, "lgtip" for the tool tip).
    void ApplyLanguage();

private:
    void connectSignals(QWidget* widget);
    void adoptTree(QWidget* root);
    bool isOwnWidget(const QWidget* widget) const;

    QPointer<QWidget> host_;
    CControlUI* root_ = nullptr;
    std::string resourceFolder_;
    std::map<QWidget*, std::unique_ptr<CControlUI>> controls_;
    std::vector<INotifyUI*> notifiers_;
    std::vector<IMessageFilterUI*> filters_;
    std::map<std::pair<CControlUI*, UINT>, QTimer*> timers_;
    std::shared_ptr<bool> alive_; // lets posted notifications see a destroyed manager
};

} // namespace DuiLib
