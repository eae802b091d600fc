#pragma once

// The standard controls over their Qt widgets: labels with the toolkit's small HTML subset,
// buttons with sprite images, options, edits, progress bars and sliders, containers and tab
// layouts, date, time and calendar controls.

#include "duilib/UIControl.h"

#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QAbstractSlider;
class QProgressBar;
class QStackedWidget;
class QTabWidget;
class QDateEdit;
class QTimeEdit;
class QCalendarWidget;

namespace DuiLib {

struct DateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class CLabelUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "LabelUI"; }
    // With HTML shown, the text may carry <b>, <i>, <u>, <c #rrggbb>, <f n>, <x n>, <n>, <a>.
    void SetShowHtml(bool show = true);
    bool IsShowHtml() const { return showHtml_; }
    // With HTML shown, the text as the program gave it, tags and all; else what the label shows.
    std::string GetText() const override;
    void SetText(const std::string& text) override;

private:
    bool showHtml_ = false;
    std::string text_;
};
using CTextUI = CLabelUI;

class CButtonUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "ButtonUI"; }
    // Sprite images: "file='x.png' dest='l,t,r,b' source='l,t,r,b'".
    void SetNormalImage(const std::string& image);
    std::string GetNormalImage() const { return normalImage_; }
    void SetHotImage(const std::string& image) { hotImage_ = image; }
    void SetPushedImage(const std::string& image) { pushedImage_ = image; }
    void SetAttribute(const std::string& name, const std::string& value) override;

protected:
    QAbstractButton* button() const;

private:
    std::string normalImage_;
    std::string hotImage_;
    std::string pushedImage_;
};

class COptionUI : public CButtonUI {
public:
    using CButtonUI::CButtonUI;
    std::string GetClass() const override { return "OptionUI"; }
    bool IsSelected() const;
    // Selecting sends "selectchanged" (and, for a newly selected option of a group, deselects
    // the others); SelectedNoSendMsg changes the state silently.
    void Selected(bool selected, bool sendNotify = true);
    void SelectedNoSendMsg(bool selected) { Selected(selected, false); }
};
using CCheckBoxUI = COptionUI;

class CEditUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "EditUI"; }
    void SetReadOnly(bool readOnly = true);
    bool IsReadOnly() const;
    void SetPasswordMode(bool password = true);
    void SetMaxChar(int count);
};

class CProgressUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "ProgressUI"; }
    int GetMinValue() const;
    void SetMinValue(int value);
    int GetMaxValue() const;
    void SetMaxValue(int value);
    int GetValue() const;
    // Setting the value from the program does not send "valuechanged".
    void SetValue(int value);
};

class CSliderUI : public CProgressUI {
public:
    using CProgressUI::CProgressUI;
    std::string GetClass() const override { return "SliderUI"; }
};

class CContainerUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "ContainerUI"; }
    // The controls directly inside, in layout order.
    int GetCount() const;
    CControlUI* GetItemAt(int index) const;
    int GetItemIndex(CControlUI* control) const;
    bool Add(CControlUI* control);
    bool AddAt(CControlUI* control, int index);
    bool Remove(CControlUI* control);
    void RemoveAll();

protected:
    std::vector<QWidget*> children() const;
};
using CVerticalLayoutUI = CContainerUI;
using CHorizontalLayoutUI = CContainerUI;

class CTabLayoutUI : public CContainerUI {
public:
    using CContainerUI::CContainerUI;
    std::string GetClass() const override { return "TabLayoutUI"; }
    int GetCount() const;
    int GetCurSel() const;
    // Shows page `index`; sends "tabselect" when the page changes.
    bool SelectItem(int index);
};

class CDateUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "DateUI"; }
    DateTime GetDate() const;
    void SetDate(const DateTime& date);
    // "%.4d-%.2d-%.2d"
    std::string GetText() const override;
};

class CTimeUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "TimeUI"; }
    DateTime GetTime() const;
    void SetTime(const DateTime& time);
    // "%.2d:%.2d:%.2d"
    std::string GetText() const override;
};

class CCalUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "CalUI"; }
    DateTime GetSelectedDate() const;
    void SetSelectedDate(const DateTime& date);
    // Days in the month of the selected date, and of any month.
    int GetDays() const;
    static int GetDays(int year, int month);
};

} // namespace DuiLib
