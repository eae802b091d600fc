#pragma once

#include <memory>

class QWidget;

namespace DuiLib {

class CControlUI;

// The control object that fits a skin widget's kind.
std::unique_ptr<CControlUI> makeControl(QWidget* widget);

} // namespace DuiLib
