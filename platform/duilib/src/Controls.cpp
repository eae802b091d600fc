#include "duilib/UIControls.h"

#include "ControlFactory.h"
#include "HtmlText.h"
#include "SkinImage.h"
#include "duilib/UIList.h"
#include "duilib/UIManager.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTreeWidget>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace DuiLib {

void CLabelUI::SetShowHtml(bool show) {
    if (show && !showHtml_) {
        text_ = CControlUI::GetText();
    }
    showHtml_ = show;
    SetText(text_);
}

std::string CLabelUI::GetText() const {
    return showHtml_ ? text_ : CControlUI::GetText();
}

void CLabelUI::SetText(const std::string& text) {
    text_ = text;
    auto* label = qobject_cast<QLabel*>(GetWidget());
    if (label == nullptr) {
        CControlUI::SetText(text);
        return;
    }
    label->setTextFormat(showHtml_ ? Qt::RichText : Qt::PlainText);
    label->setText(QString::fromStdString(showHtml_ ? htmlToRichText(text) : text));
}

QAbstractButton* CButtonUI::button() const {
    return qobject_cast<QAbstractButton*>(GetWidget());
}

void CButtonUI::SetNormalImage(const std::string& image) {
    normalImage_ = image;
    QAbstractButton* target = button();
    const auto parsed = parseSkinImage(image);
    if (target == nullptr || !parsed || GetManager() == nullptr) {
        return;
    }
    const QPixmap pixmap = loadImage(*parsed, GetManager()->resourceFolder());
    if (pixmap.isNull()) {
        return;
    }
    target->setIcon(QIcon(pixmap));
    target->setIconSize(pixmap.size());
}

void CButtonUI::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "normalimage") {
        SetNormalImage(value);
    } else if (name == "hotimage") {
        SetHotImage(value);
    } else if (name == "pushedimage") {
        SetPushedImage(value);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

bool COptionUI::IsSelected() const {
    QAbstractButton* target = button();
    return target != nullptr && target->isChecked();
}

namespace {

// The options that change together with `button`: its group, or its exclusive siblings.
std::vector<QAbstractButton*> groupOf(QAbstractButton* button) {
    if (button->group() != nullptr) {
        const auto members = button->group()->buttons();
        return {members.begin(), members.end()};
    }
    std::vector<QAbstractButton*> members{button};
    if (button->autoExclusive() && button->parentWidget() != nullptr) {
        for (auto* sibling :
             button->parentWidget()->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
            if (sibling != button && sibling->autoExclusive()) {
                members.push_back(sibling);
            }
        }
    }
    return members;
}

} // namespace

void COptionUI::Selected(bool selected, bool sendNotify) {
    QAbstractButton* target = button();
    if (target == nullptr) {
        return;
    }
    target->setCheckable(true);
    // Silently means for the whole group: the option that gives way says nothing either.
    std::vector<std::unique_ptr<QSignalBlocker>> silence;
    if (!sendNotify) {
        for (QAbstractButton* member : groupOf(target)) {
            silence.push_back(std::make_unique<QSignalBlocker>(member));
        }
    }
    target->setChecked(selected);
}

namespace {

template <typename Fn> void withEdit(QWidget* widget, Fn&& fn) {
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        fn(line);
    }
}

} // namespace

void CEditUI::SetReadOnly(bool readOnly) {
    if (auto* line = qobject_cast<QLineEdit*>(GetWidget())) {
        line->setReadOnly(readOnly);
    } else if (auto* text = qobject_cast<QTextEdit*>(GetWidget())) {
        text->setReadOnly(readOnly);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(GetWidget())) {
        plain->setReadOnly(readOnly);
    }
}

bool CEditUI::IsReadOnly() const {
    if (auto* line = qobject_cast<QLineEdit*>(GetWidget())) {
        return line->isReadOnly();
    }
    if (auto* text = qobject_cast<QTextEdit*>(GetWidget())) {
        return text->isReadOnly();
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(GetWidget())) {
        return plain->isReadOnly();
    }
    return false;
}

void CEditUI::SetPasswordMode(bool password) {
    withEdit(GetWidget(), [password](QLineEdit* line) {
        line->setEchoMode(password ? QLineEdit::Password : QLineEdit::Normal);
    });
}

void CEditUI::SetMaxChar(int count) {
    withEdit(GetWidget(), [count](QLineEdit* line) { line->setMaxLength(std::max(0, count)); });
}

namespace {

// Progress bars and sliders keep their range in different classes.
struct Range {
    QProgressBar* bar = nullptr;
    QAbstractSlider* slider = nullptr;
};

Range rangeOf(QWidget* widget) {
    return {qobject_cast<QProgressBar*>(widget), qobject_cast<QAbstractSlider*>(widget)};
}

} // namespace

int CProgressUI::GetMinValue() const {
    const Range r = rangeOf(GetWidget());
    return r.bar ? r.bar->minimum() : r.slider ? r.slider->minimum() : 0;
}

void CProgressUI::SetMinValue(int value) {
    const Range r = rangeOf(GetWidget());
    if (r.bar) {
        r.bar->setMinimum(value);
    } else if (r.slider) {
        const QSignalBlocker silence(r.slider);
        r.slider->setMinimum(value);
    }
}

int CProgressUI::GetMaxValue() const {
    const Range r = rangeOf(GetWidget());
    return r.bar ? r.bar->maximum() : r.slider ? r.slider->maximum() : 0;
}

void CProgressUI::SetMaxValue(int value) {
    const Range r = rangeOf(GetWidget());
    if (r.bar) {
        r.bar->setMaximum(value);
    } else if (r.slider) {
        const QSignalBlocker silence(r.slider);
        r.slider->setMaximum(value);
    }
}

int CProgressUI::GetValue() const {
    const Range r = rangeOf(GetWidget());
    return r.bar ? r.bar->value() : r.slider ? r.slider->value() : 0;
}

void CProgressUI::SetValue(int value) {
    const Range r = rangeOf(GetWidget());
    if (r.bar) {
        r.bar->setValue(value);
    } else if (r.slider && !r.slider->isSliderDown()) {
        // A value from the program never fights the operator's drag.
        const QSignalBlocker silence(r.slider);
        r.slider->setValue(value);
    }
}

std::vector<QWidget*> CContainerUI::children() const {
    std::vector<QWidget*> out;
    QWidget* widget = GetWidget();
    if (widget == nullptr) {
        return out;
    }
    if (QLayout* layout = widget->layout()) {
        for (int i = 0; i < layout->count(); ++i) {
            if (QWidget* child = layout->itemAt(i)->widget()) {
                out.push_back(child);
            }
        }
        return out;
    }
    for (QObject* child : widget->children()) {
        if (auto* childWidget = qobject_cast<QWidget*>(child);
            childWidget && !childWidget->isWindow()) {
            out.push_back(childWidget);
        }
    }
    return out;
}

int CContainerUI::GetCount() const {
    return static_cast<int>(children().size());
}

CControlUI* CContainerUI::GetItemAt(int index) const {
    const auto items = children();
    if (index < 0 || static_cast<size_t>(index) >= items.size() || GetManager() == nullptr) {
        return nullptr;
    }
    return GetManager()->ControlOf(items[static_cast<size_t>(index)]);
}

int CContainerUI::GetItemIndex(CControlUI* control) const {
    const auto items = children();
    for (size_t i = 0; i < items.size(); ++i) {
        if (control != nullptr && items[i] == control->GetWidget()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool CContainerUI::Add(CControlUI* control) {
    return AddAt(control, GetCount());
}

bool CContainerUI::AddAt(CControlUI* control, int index) {
    QWidget* widget = GetWidget();
    if (widget == nullptr || control == nullptr || control->GetWidget() == nullptr || index < 0 ||
        index > GetCount()) {
        return false;
    }
    if (widget->layout() == nullptr) {
        auto* layout = new QVBoxLayout(widget);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    if (auto* box = qobject_cast<QBoxLayout*>(widget->layout())) {
        box->insertWidget(index, control->GetWidget());
    } else {
        widget->layout()->addWidget(control->GetWidget());
    }
    if (GetManager() != nullptr) {
        GetManager()->Adopt(control);
    }
    return true;
}

bool CContainerUI::Remove(CControlUI* control) {
    if (GetItemIndex(control) < 0) {
        return false;
    }
    // The widget goes with its control object (the manager drops it when the widget dies).
    control->GetWidget()->deleteLater();
    control->GetWidget()->hide();
    return true;
}

void CContainerUI::RemoveAll() {
    for (QWidget* child : children()) {
        child->hide();
        child->deleteLater();
    }
}

int CTabLayoutUI::GetCount() const {
    if (auto* stack = qobject_cast<QStackedWidget*>(GetWidget())) {
        return stack->count();
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(GetWidget())) {
        return tabs->count();
    }
    return 0;
}

int CTabLayoutUI::GetCurSel() const {
    if (auto* stack = qobject_cast<QStackedWidget*>(GetWidget())) {
        return stack->currentIndex();
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(GetWidget())) {
        return tabs->currentIndex();
    }
    return -1;
}

bool CTabLayoutUI::SelectItem(int index) {
    if (index < 0 || index >= GetCount()) {
        return false;
    }
    if (auto* stack = qobject_cast<QStackedWidget*>(GetWidget())) {
        stack->setCurrentIndex(index);
    } else if (auto* tabs = qobject_cast<QTabWidget*>(GetWidget())) {
        tabs->setCurrentIndex(index);
    }
    return true;
}

namespace {

std::string dateText(int year, int month, int day) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d", year, month, day);
    return text;
}

std::string timeText(int hour, int minute, int second) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", hour, minute, second);
    return text;
}

} // namespace

DateTime CDateUI::GetDate() const {
    auto* edit = qobject_cast<QDateTimeEdit*>(GetWidget());
    if (edit == nullptr) {
        return {};
    }
    const QDate date = edit->date();
    return {date.year(), date.month(), date.day()};
}

void CDateUI::SetDate(const DateTime& date) {
    auto* edit = qobject_cast<QDateTimeEdit*>(GetWidget());
    const QDate value(date.year, date.month, date.day);
    if (edit != nullptr && value.isValid()) {
        edit->setDate(value);
    }
}

std::string CDateUI::GetText() const {
    const DateTime date = GetDate();
    return dateText(date.year, date.month, date.day);
}

DateTime CTimeUI::GetTime() const {
    auto* edit = qobject_cast<QDateTimeEdit*>(GetWidget());
    if (edit == nullptr) {
        return {};
    }
    const QTime time = edit->time();
    return {0, 0, 0, time.hour(), time.minute(), time.second()};
}

void CTimeUI::SetTime(const DateTime& time) {
    auto* edit = qobject_cast<QDateTimeEdit*>(GetWidget());
    const QTime value(time.hour, time.minute, time.second);
    if (edit != nullptr && value.isValid()) {
        edit->setTime(value);
    }
}

std::string CTimeUI::GetText() const {
    const DateTime time = GetTime();
    return timeText(time.hour, time.minute, time.second);
}

DateTime CCalUI::GetSelectedDate() const {
    auto* calendar = qobject_cast<QCalendarWidget*>(GetWidget());
    if (calendar == nullptr) {
        return {};
    }
    const QDate date = calendar->selectedDate();
    return {date.year(), date.month(), date.day()};
}

void CCalUI::SetSelectedDate(const DateTime& date) {
    auto* calendar = qobject_cast<QCalendarWidget*>(GetWidget());
    const QDate value(date.year, date.month, date.day);
    if (calendar != nullptr && value.isValid()) {
        calendar->setSelectedDate(value);
    }
}

int CCalUI::GetDays() const {
    const DateTime date = GetSelectedDate();
    return GetDays(date.year, date.month);
}

int CCalUI::GetDays(int year, int month) {
    const QDate first(year, month, 1);
    return first.isValid() ? first.daysInMonth() : 0;
}

std::unique_ptr<CControlUI> makeControl(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (button->isCheckable()) {
            return std::make_unique<COptionUI>(widget);
        }
        return std::make_unique<CButtonUI>(widget);
    }
    if (qobject_cast<QLabel*>(widget)) {
        return std::make_unique<CLabelUI>(widget);
    }
    if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QTextEdit*>(widget) ||
        qobject_cast<QPlainTextEdit*>(widget)) {
        return std::make_unique<CEditUI>(widget);
    }
    if (qobject_cast<QComboBox*>(widget)) {
        return std::make_unique<CComboUI>(widget);
    }
    if (qobject_cast<QTreeWidget*>(widget)) {
        return std::make_unique<CListUI>(widget);
    }
    if (qobject_cast<QSlider*>(widget)) {
        return std::make_unique<CSliderUI>(widget);
    }
    if (qobject_cast<QProgressBar*>(widget)) {
        return std::make_unique<CProgressUI>(widget);
    }
    if (qobject_cast<QStackedWidget*>(widget) || qobject_cast<QTabWidget*>(widget)) {
        return std::make_unique<CTabLayoutUI>(widget);
    }
    if (qobject_cast<QTimeEdit*>(widget)) {
        return std::make_unique<CTimeUI>(widget);
    }
    if (qobject_cast<QDateTimeEdit*>(widget)) {
        return std::make_unique<CDateUI>(widget);
    }
    if (qobject_cast<QCalendarWidget*>(widget)) {
        return std::make_unique<CCalUI>(widget);
    }
    return std::make_unique<CContainerUI>(widget);
}

} // namespace DuiLib
