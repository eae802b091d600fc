#pragma once

#include "sys/Diag.h"

#include <exception>

namespace zq {

// Every export runs inside this: no exception crosses the library boundary; a failure becomes
// the export's failure value.
template <typename Result, typename Fn> Result guarded(Result onFailure, Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const std::exception& error) {
        sys::diag("zqnet: %s", error.what());
    } catch (...) {
        sys::diag("zqnet: unknown failure");
    }
    return onFailure;
}

} // namespace zq
