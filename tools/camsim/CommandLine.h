#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

// A whole decimal integer within [low, high]: no sign-only, trailing or empty text.
bool parseInteger(const char* text, long long low, long long high, long long& value);

// The options of one camsim subcommand, declared once and parsed in one place: flags, and options
// that take the next argument, each with the check its value must pass. "--help" and "-h" print
// the usage; anything else unknown, a missing value or one that fails its check is refused with
// the usage.
class CommandLine {
public:
    CommandLine(std::string kind, const char* usage) : m_kind(std::move(kind)), m_usage(usage) {}

    CommandLine& flag(std::string name, std::function<void()> set);
    CommandLine& flag(std::string name, bool& target) {
        return flag(std::move(name), [&target] { target = true; });
    }
    // `take` returns false when the value is not acceptable.
    CommandLine& value(std::string name, std::function<bool(const char*)> take);
    CommandLine& text(std::string name, std::string& target) {
        return value(std::move(name), [&target](const char* text) {
            target = text;
            return true;
        });
    }
    template <typename Int> CommandLine& number(std::string name, Int& target) {
        return value(std::move(name), [&target](const char* text) {
            long long parsed = 0;
            if (!parseInteger(text, std::numeric_limits<Int>::min(),
                              std::numeric_limits<Int>::max(), parsed))
                return false;
            target = static_cast<Int>(parsed);
            return true;
        });
    }

    // Empty when the subcommand goes on; otherwise the exit code it returns at once: 0 after the
    // usage was asked for, 2 after a refused option.
    std::optional<int> parse(int argc, char** argv) const;

private:
    struct Option {
        std::string name;
        std::function<void()> set;                  // flags
        std::function<bool(const char*)> take;      // options with a value
    };
    const Option* find(const std::string& name) const;

    std::string m_kind;
    const char* m_usage;
    std::vector<Option> m_options;
};

} // namespace camsim
