#include "CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace camsim {

bool parseInteger(const char* text, long long low, long long high, long long& value) {
    // strtoll would also take leading blanks and a plus sign.
    if (text == nullptr || (*text != '-' && (*text < '0' || *text > '9')))
        return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

CommandLine& CommandLine::flag(std::string name, std::function<void()> set) {
    m_options.push_back({std::move(name), std::move(set), nullptr});
    return *this;
}

CommandLine& CommandLine::value(std::string name, std::function<bool(const char*)> take) {
    m_options.push_back({std::move(name), nullptr, std::move(take)});
    return *this;
}

const CommandLine::Option* CommandLine::find(const std::string& name) const {
    for (const Option& option : m_options)
        if (option.name == name)
            return &option;
    return nullptr;
}

std::optional<int> CommandLine::parse(int argc, char** argv) const {
    for (int i = 0; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(m_usage, stdout);
            return 0;
        }
        const Option* option = find(name);
        bool accepted = option != nullptr;
        if (accepted && option->set) {
            option->set();
        } else if (accepted) {
            accepted = i + 1 < argc && option->take(argv[i + 1]);
            ++i;
        }
        if (!accepted) {
            std::fprintf(stderr, "camsim %s: bad option '%s'\n%s", m_kind.c_str(), name.c_str(),
                         m_usage);
            return 2;
        }
    }
    return std::nullopt;
}

} // namespace camsim
