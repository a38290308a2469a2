#include "presentation/SessionGoToItem.hpp"

namespace brindleaf {

SessionGoToItem SessionGoToItem::make(std::optional<int64_t> processID, const std::optional<SessionJumpCheck>& check) {
    if (!processID) return {false, unknownProcess};
    if (!check) return {false, looking};
    if (check->canGo) return {true, {}};
    return {false, check->reason.empty() ? std::string(SessionJumper::noWindow) : check->reason};
}

} // namespace brindleaf
