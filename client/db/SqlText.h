#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

// Text of a statement whose values are formatted into it.
//
// A value formatted into a statement always stands between single quotes there, so doubling
// every single quote inside it is all that keeps it a value: a quote then ends nothing, and
// semicolons, comment marks and percent signs are plain characters of the value. Formats are
// literals of the catalogue only; values never reach the format string (so "%s" in a name stays
// "%s"), which the compiler checks.

// `text` with each single quote doubled, for use between the quotes of a formatted statement.
std::string sqlQuoted(std::string_view text);

// printf into a string; only for statement literals, with every text argument from sqlQuoted().
std::string sqlFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "column='a' or column='b' …" for each of `values`, each quoted. `column` is a name of the
// catalogue, never user text.
std::string sqlOrClauses(const char* column, const std::vector<std::string>& values);

} // namespace db
