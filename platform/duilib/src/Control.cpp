#include "duilib/UIControl.h"

#include "SkinImage.h"
#include "duilib/UIManager.h"

#include <QVariant>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace DuiLib {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string colourRule(const char* property, DWORD colour) {
    char rule[64];
    std::snprintf(rule, sizeof rule, "%s: rgba(%u, %u, %u, %u);", property, (colour >> 16) & 0xff,
                  (colour >> 8) & 0xff, colour & 0xff, (colour >> 24) & 0xff);
    return rule;
}

bool truthy(const std::string& value) {
    return value == "true" || value == "1";
}

} // namespace

CControlUI::CControlUI() : widget_(new QWidget), ownsWidget_(true) {}

CControlUI::CControlUI(QWidget* widget) : widget_(widget) {}

CControlUI::~CControlUI() {
    // A program-made control that never joined a window still owns its widget.
    if (ownsWidget_ && widget_ != nullptr && widget_->parent() == nullptr) {
        delete widget_;
    }
}

CControlUI* CControlUI::GetParent() const {
    if (manager_ == nullptr || widget_ == nullptr) {
        return nullptr;
    }
    for (QWidget* up = widget_->parentWidget(); up != nullptr; up = up->parentWidget()) {
        if (!up->objectName().isEmpty() && !up->objectName().startsWith("qt_")) {
            return manager_->ControlOf(up);
        }
        if (up == manager_->GetPaintWindow()) {
            break;
        }
    }
    return nullptr;
}

std::string CControlUI::GetName() const {
    return widget_ != nullptr ? widget_->objectName().toStdString() : std::string();
}

void CControlUI::SetName(const std::string& name) {
    if (widget_ != nullptr) {
        widget_->setObjectName(qs(name));
    }
}

std::string CControlUI::GetText() const {
    if (widget_ == nullptr) {
        return {};
    }
    const QVariant text = widget_->property("text");
    return text.isValid() ? text.toString().toStdString() : std::string();
}

void CControlUI::SetText(const std::string& text) {
    if (widget_ != nullptr && widget_->metaObject()->indexOfProperty("text") >= 0) {
        widget_->setProperty("text", qs(text));
    }
}

std::string CControlUI::GetToolTip() const {
    return widget_ != nullptr ? widget_->toolTip().toStdString() : std::string();
}

void CControlUI::SetToolTip(const std::string& text) {
    if (widget_ != nullptr) {
        widget_->setToolTip(qs(text));
    }
}

// Visibility as the skin sets it, whether or not the window is shown yet.
bool CControlUI::IsVisible() const {
    return widget_ != nullptr && !widget_->isHidden();
}

void CControlUI::SetVisible(bool visible) {
    if (widget_ != nullptr) {
        widget_->setVisible(visible);
    }
}

bool CControlUI::IsEnabled() const {
    return widget_ != nullptr && widget_->isEnabled();
}

void CControlUI::SetEnabled(bool enabled) {
    if (widget_ != nullptr) {
        widget_->setEnabled(enabled);
    }
}

std::string CControlUI::GetUserData() const {
    if (userData_.empty() && widget_ != nullptr) {
        const QVariant fromSkin = widget_->property("userdata");
        if (fromSkin.isValid()) {
            return fromSkin.toString().toStdString();
        }
    }
    return userData_;
}

void CControlUI::SetFocus() {
    if (widget_ != nullptr) {
        widget_->setFocus();
    }
}

RECT CControlUI::GetPos() const {
    if (widget_ == nullptr) {
        return {};
    }
    QWidget* window = widget_->window();
    const QPoint origin = widget_->mapTo(window, QPoint(0, 0));
    return {origin.x(), origin.y(), origin.x() + widget_->width(), origin.y() + widget_->height()};
}

void CControlUI::SetFixedWidth(int width) {
    if (widget_ != nullptr && width >= 0) {
        widget_->setFixedWidth(width);
    }
}

void CControlUI::SetFixedHeight(int height) {
    if (widget_ != nullptr && height >= 0) {
        widget_->setFixedHeight(height);
    }
}

int CControlUI::GetFixedHeight() const {
    return widget_ != nullptr ? widget_->height() : 0;
}

void CControlUI::setStyleRule(const std::string& property, const std::string& value) {
    if (widget_ == nullptr) {
        return;
    }
    static const char* const kSlots[] = {"background-color", "color", "background-image"};
    for (size_t i = 0; i < std::size(kSlots); ++i) {
        if (property == kSlots[i]) {
            styleRules_[i] = value;
        }
    }
    std::string sheet;
    for (const std::string& rule : styleRules_) {
        sheet += rule;
    }
    widget_->setStyleSheet(qs(sheet));
}

void CControlUI::SetBkColor(DWORD colour) {
    setStyleRule("background-color", colourRule("background-color", colour));
}

void CControlUI::SetTextColor(DWORD colour) {
    setStyleRule("color", colourRule("color", colour));
}

void CControlUI::SetBkImage(const std::string& image) {
    const auto parsed = parseSkinImage(image);
    if (!parsed || manager_ == nullptr) {
        setStyleRule("background-image", "");
        return;
    }
    const std::string path = manager_->resourceFolder() + parsed->file;
    setStyleRule("background-image", "border-image: url(" + path + ");");
}

void CControlUI::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "text") {
        SetText(value);
    } else if (name == "tooltip") {
        SetToolTip(value);
    } else if (name == "visible") {
        SetVisible(truthy(value));
    } else if (name == "enabled") {
        SetEnabled(truthy(value));
    } else if (name == "width") {
        SetFixedWidth(std::atoi(value.c_str()));
    } else if (name == "height") {
        SetFixedHeight(std::atoi(value.c_str()));
    } else if (name == "bkcolor" || name == "textcolor") {
        const DWORD colour =
            static_cast<DWORD>(std::strtoul(value.c_str() + (value[0] == '#'), nullptr, 16));
        name == "bkcolor" ? SetBkColor(colour) : SetTextColor(colour);
    } else if (name == "bkimage") {
        SetBkImage(value);
    } else if (name == "userdata") {
        SetUserData(value);
    }
}

void CControlUI::Invalidate() {
    if (widget_ != nullptr) {
        widget_->update();
    }
}

int userDataNumber(const CControlUI* control, int fallback) {
    if (control == nullptr) {
        return fallback;
    }
    const std::string data = control->GetUserData();
    char* end = nullptr;
    const long value = std::strtol(data.c_str(), &end, 10);
    return end != data.c_str() ? static_cast<int>(value) : fallback;
}

} // namespace DuiLib
