#include "LanguageStore.h"

#include <pugixml.hpp>

#include <filesystem>

namespace DuiLib {

LanguageStore& LanguageStore::instance() {
    static LanguageStore store;
    return store;
}

bool LanguageStore::read(const std::string& path, Table& table) {
    pugi::xml_document document;
    // Whitespace inside texts is kept: programs join texts with numbers and names.
    if (!document.load_file(path.c_str(), pugi::parse_default | pugi::parse_ws_pcdata_single)) {
        return false;
    }
    const pugi::xml_node root = document.child("Language");
    if (!root) {
        return false;
    }
    for (const pugi::xml_node text : root.children("Text")) {
        const char* key = text.attribute("key").value();
        if (*key != '\0') {
            table[key] = {text.child_value(), text.attribute("caption").value()};
        }
    }
    return true;
}

bool LanguageStore::load(const std::string& path, int index) {
    Table texts;
    if (!read(path, texts)) {
        return false;
    }
    Table fallback;
    const auto english = std::filesystem::path(path).parent_path() / "EN.xml";
    std::error_code ignored;
    if (!std::filesystem::equivalent(english, path, ignored)) {
        read(english.string(), fallback);
    }
    std::lock_guard guard(lock_);
    texts_ = std::move(texts);
    fallback_ = std::move(fallback);
    index_ = index;
    path_ = path;
    return true;
}

bool LanguageStore::find(const std::string& key, std::string& text, std::string& caption) const {
    std::lock_guard guard(lock_);
    for (const Table* table : {&texts_, &fallback_}) {
        const auto found = table->find(key);
        if (found != table->end()) {
            text = found->second.text;
            caption = found->second.caption;
            return true;
        }
    }
    return false;
}

std::string LanguageStore::text(const std::string& key) const {
    std::string text;
    std::string caption;
    return find(key, text, caption) ? text : key;
}

int LanguageStore::index() const {
    std::lock_guard guard(lock_);
    return index_;
}

std::string LanguageStore::path() const {
    std::lock_guard guard(lock_);
    return path_;
}

} // namespace DuiLib
