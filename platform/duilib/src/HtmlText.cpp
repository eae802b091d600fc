#include "HtmlText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace DuiLib {

namespace {

struct Tag {
    bool closing = false;
    std::string name;
    std::string argument;
    size_t end = 0; // just past '>'
};

// Parses the tag starting at text[at] == '<'. False when it is not a tag of the subset.
bool parseTag(const std::string& text, size_t at, Tag& tag) {
    const size_t close = text.find('>', at);
    if (close == std::string::npos || close - at > 64) {
        return false;
    }
    std::string inner = text.substr(at + 1, close - at - 1);
    tag.closing = !inner.empty() && inner[0] == '/';
    if (tag.closing) {
        inner.erase(0, 1);
    }
    const size_t space = inner.find(' ');
    tag.name = inner.substr(0, space);
    tag.argument = space == std::string::npos ? "" : inner.substr(space + 1);
    tag.end = close + 1;
    static const char* const kKnown[] = {"b", "i", "u", "c", "f", "x", "n", "a", "p", "s"};
    for (const char* known : kKnown) {
        if (tag.name == known) {
            return true;
        }
    }
    return false;
}

bool isColour(const std::string& value) {
    if (value.size() != 7 || value[0] != '#') {
        return false;
    }
    for (size_t i = 1; i < value.size(); ++i) {
        if (std::isxdigit(static_cast<unsigned char>(value[i])) == 0) {
            return false;
        }
    }
    return true;
}

std::string escape(char c) {
    switch (c) {
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '&':
        return "&amp;";
    case '"':
        return "&quot;";
    default:
        return std::string(1, c);
    }
}

// Keeps the entities the subset allows and escapes every other '&'.
size_t copyEntity(const std::string& text, size_t at, std::string& out, bool plain) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&nbsp;", ' '}};
    for (const auto& [name, value] : kEntities) {
        const size_t length = std::char_traits<char>::length(name);
        if (text.compare(at, length, name) == 0) {
            out += plain ? std::string(1, value) : std::string(name);
            return length;
        }
    }
    out += plain ? "&" : "&amp;";
    return 1;
}

std::string openTag(const Tag& tag) {
    if (tag.name == "b" || tag.name == "i" || tag.name == "u") {
        return "<" + tag.name + ">";
    }
    if (tag.name == "c") {
        return isColour(tag.argument) ? "<span style=\"color:" + tag.argument + "\">" : "<span>";
    }
    if (tag.name == "f") {
        switch (std::atoi(tag.argument.c_str())) {
        case 1:
            return "<span style=\"font-weight:600\">";
        case 2:
            return "<span style=\"font-size:large\">";
        case 3:
            return "<span style=\"font-size:small\">";
        default:
            return "<span>";
        }
    }
    if (tag.name == "x") {
        const int pixels = std::clamp(std::atoi(tag.argument.c_str()), 0, 400);
        return "<span style=\"white-space:pre\">" +
               std::string(static_cast<size_t>(pixels / 4), ' ') + "</span>";
    }
    if (tag.name == "n") {
        return "<br/>";
    }
    if (tag.name == "a") {
        std::string target;
        for (const char c : tag.argument) {
            target += escape(c);
        }
        return "<a href=\"" + (target.empty() ? std::string("#") : target) + "\">";
    }
    return {};
}

std::string closeTag(const Tag& tag) {
    if (tag.name == "b" || tag.name == "i" || tag.name == "u" || tag.name == "a") {
        return "</" + tag.name + ">";
    }
    if (tag.name == "c" || tag.name == "f") {
        return "</span>";
    }
    return {};
}

std::string convert(const std::string& text, bool plain) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        Tag tag;
        if (c == '<' && parseTag(text, at, tag)) {
            if (!plain) {
                out += tag.closing ? closeTag(tag) : openTag(tag);
            } else if (tag.name == "n" && !tag.closing) {
                out += '\n';
            }
            at = tag.end;
        } else if (c == '&') {
            at += copyEntity(text, at, out, plain);
        } else {
            out += plain ? std::string(1, c) : escape(c);
            ++at;
        }
    }
    return out;
}

} // namespace

std::string htmlToRichText(const std::string& text) {
    return convert(text, false);
}

std::string htmlToPlainText(const std::string& text) {
    return convert(text, true);
}

} // namespace DuiLib
