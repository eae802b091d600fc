#pragma once

#include <string>

namespace DuiLib {

// Turns the toolkit's small HTML subset into Qt rich text: <b> <i> <u>, <c #rrggbb> (colour),
// <f n> (font n: 0 normal, 1 bold, 2 large, 3 small), <x n> (n pixels of space), <n> (line
// break), <a [target]> (link), and &lt; style entities. Everything else is shown as text, so a
// camera name with '<' in it cannot inject markup.
std::string htmlToRichText(const std::string& text);

// The text with every tag of the subset removed and entities resolved.
std::string htmlToPlainText(const std::string& text);

} // namespace DuiLib
