#include "SkinImage.h"

#include <QDir>
#include <QPixmapCache>

#include <cstdio>

namespace DuiLib {

namespace {

// The value of `key='…'` in `text`, or nullopt.
std::optional<std::string> quotedValue(const std::string& text, const std::string& key) {
    const std::string opening = key + "='";
    const size_t at = text.find(opening);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const size_t begin = at + opening.size();
    const size_t end = text.find('\'', begin);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    return text.substr(begin, end - begin);
}

bool parseRect(const std::string& text, RECT& rect) {
    int consumed = 0;
    if (std::sscanf(text.c_str(), " %ld , %ld , %ld , %ld %n", &rect.left, &rect.top, &rect.right,
                    &rect.bottom, &consumed) != 4 ||
        static_cast<size_t>(consumed) != text.size()) {
        return false;
    }
    return rect.right > rect.left && rect.bottom > rect.top && rect.right - rect.left <= 8192 &&
           rect.bottom - rect.top <= 8192;
}

} // namespace

std::optional<SkinImage> parseSkinImage(const std::string& text) {
    SkinImage parsed;
    const auto file = quotedValue(text, "file");
    if (!file) {
        if (text.empty() || text.find('\'') != std::string::npos) {
            return std::nullopt;
        }
        parsed.file = text;
        return parsed;
    }
    parsed.file = *file;
    for (const auto& [key, target] :
         {std::pair{"dest", &parsed.dest}, std::pair{"source", &parsed.source}}) {
        if (const auto value = quotedValue(text, key)) {
            RECT rect;
            if (!parseRect(*value, rect)) {
                return std::nullopt;
            }
            *target = rect;
        }
    }
    return parsed.file.empty() ? std::nullopt : std::optional(parsed);
}

QPixmap loadImage(const SkinImage& parsed, const std::string& folder) {
    const QString path =
        QDir(QString::fromStdString(folder)).filePath(QString::fromStdString(parsed.file));
    QPixmap sheet;
    if (!QPixmapCache::find(path, &sheet)) {
        if (!sheet.load(path)) {
            return {};
        }
        QPixmapCache::insert(path, sheet);
    }
    QPixmap image = sheet;
    if (parsed.source) {
        const RECT& s = *parsed.source;
        image = sheet.copy(static_cast<int>(s.left), static_cast<int>(s.top),
                           static_cast<int>(s.width()), static_cast<int>(s.height()));
    }
    if (parsed.dest) {
        image = image.scaled(static_cast<int>(parsed.dest->width()),
                             static_cast<int>(parsed.dest->height()), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    }
    return image;
}

} // namespace DuiLib
