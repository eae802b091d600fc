#pragma once

#include "Notifier.h"
#include "Tuning.h"

#include "moltrex/moltrex.h"

#include <cstdint>

namespace moltrex {

// SearchCamera and InitCamera after their argument checks: take the search/set-up flag and start
// the worker. MO_OK, MO_ERR_BUSY or MO_ERR_START.
int16_t startSearch(const Target& target, uint32_t timeoutMs);
int16_t startSetup(const MO_INIT_RECORD& record, const Target& target, uint32_t timeoutMs);

} // namespace moltrex
