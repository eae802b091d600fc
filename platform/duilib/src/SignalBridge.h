#pragma once

#include "sys/WinTypes.h"

#include <functional>

class QWidget;

namespace DuiLib {

class CPaintManagerUI;

using NotifySink = std::function<void(const char* type, WPARAM wParam, LPARAM lParam)>;

// Turns what the user does with `widget` into notifications: a click is "click", a pressed or
// released button "buttondown"/"buttonup", a toggled option "selectchanged", a chosen entry of a
// list or combo "itemselect", a slider "movevaluechanged" while dragged and "valuechanged" when
// it settles, typing "textchanged", Enter "return", a new page "tabselect", a date or time
// "datetimechange", a link "link".
void bridgeSignals(CPaintManagerUI& manager, QWidget* widget, NotifySink sink);

} // namespace DuiLib
