#pragma once

class QWidget;

namespace DuiLib {

// Sets the texts of every widget under `root` that names a language key: dynamic property
// "lgkey" (the text, or the title of a window or group box), "lgtip" (tool tip), "lgplaceholder"
// (an edit's hint), "lgitems" (a combo's entries, keys separated by commas), "lgheaders" (a
// list's column titles, likewise).
void applyLanguageTexts(QWidget* root);

} // namespace DuiLib
