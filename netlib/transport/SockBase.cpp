#include "transport/SockBase.h"

namespace zq {

CSockBase::~CSockBase() = default;

} // namespace zq
