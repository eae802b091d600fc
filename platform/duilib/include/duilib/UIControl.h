#pragma once

// Base of every control: a named widget of a skin (or of a program's own control) with the
// operations handlers use on any control. The paint manager owns the control objects; a control
// lives as long as its window's skin.

#include "duilib/UIDefine.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <string>

namespace DuiLib {

class CPaintManagerUI;

class CControlUI {
public:
    // A control with a plain widget of its own, for controls the programs make themselves.
    CControlUI();
    // A control over a widget that a skin built.
    explicit CControlUI(QWidget* widget);
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    QWidget* GetWidget() const { return widget_; }
    CPaintManagerUI* GetManager() const { return manager_; }
    // The nearest enclosing control of the same window, or null at the top.
    CControlUI* GetParent() const;

    std::string GetName() const;
    void SetName(const std::string& name);
    virtual std::string GetClass() const { return "ControlUI"; }

    virtual std::string GetText() const;
    virtual void SetText(const std::string& text);
    std::string GetToolTip() const;
    void SetToolTip(const std::string& text);

    bool IsVisible() const;
    virtual void SetVisible(bool visible = true);
    bool IsEnabled() const;
    void SetEnabled(bool enabled = true);
    void SetFocus();

    // Values a program keeps with a control; the toolkit never looks at them. A skin gives a
    // control its first user data with the dynamic property "userdata".
    uintptr_t GetTag() const { return tag_; }
    void SetTag(uintptr_t tag) { tag_ = tag; }
    std::string GetUserData() const;
    void SetUserData(const std::string& data) { userData_ = data; }

    // Position in the window's client area.
    RECT GetPos() const;
    void SetFixedWidth(int width);
    void SetFixedHeight(int height);
    int GetFixedHeight() const;
    // Colours are 0xAARRGGBB.
    void SetBkColor(DWORD colour);
    void SetTextColor(DWORD colour);
    // "file='x.png' dest='l,t,r,b' source='l,t,r,b'" or a plain file name.
    void SetBkImage(const std::string& image);
    // Attributes by name, as a skin would set them: "text", "tooltip", "visible", "enabled",
    // "width", "height", "bkcolor", "textcolor", "bkimage", "userdata".
    virtual void SetAttribute(const std::string& name, const std::string& value);
    void Invalidate();

protected:
    // Style sheet rules of this control kept apart, so colours and images combine.
    void setStyleRule(const std::string& property, const std::string& value);

private:
    friend class CPaintManagerUI;
    void attach(CPaintManagerUI* manager) { manager_ = manager; }

    QPointer<QWidget> widget_;
    bool ownsWidget_ = false;
    CPaintManagerUI* manager_ = nullptr;
    uintptr_t tag_ = 0;
    std::string userData_;
    std::string styleRules_[3]; // background colour, text colour, background image
};

// Reads the number in a control's user data (the programs keep indexes there).
int userDataNumber(const CControlUI* control, int fallback = 0);

} // namespace DuiLib
