#pragma once

#include <map>
#include <mutex>
#include <string>

namespace DuiLib {

// The texts of the current language file, with the English file beside it as the fallback for
// keys a translation lacks. Files look like
//   <Language name="English" code="EN"><Text key="k" caption="c">text</Text>…</Language>
// Lookups may come from any thread.
class LanguageStore {
public:
    static LanguageStore& instance();

    // Loads `path` (and EN.xml of the same folder as fallback). False, keeping the texts it had,
    // when the file cannot be read or is not a language file.
    bool load(const std::string& path, int index);
    // The text of `key`; the key itself when no file has it, so the screen never goes blank.
    std::string text(const std::string& key) const;
    bool find(const std::string& key, std::string& text, std::string& caption) const;
    int index() const;
    std::string path() const;

private:
    struct Entry {
        std::string text;
        std::string caption;
    };
    using Table = std::map<std::string, Entry, std::less<>>;
    static bool read(const std::string& path, Table& table);

    mutable std::mutex lock_;
    Table texts_;
    Table fallback_;
    int index_ = -1;
    std::string path_;
};

} // namespace DuiLib
