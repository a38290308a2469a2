#include "services/BuildInfo.hpp"

namespace brindleaf {

std::string_view BuildInfo::version() { return BRINDLEAF_VERSION; }

std::string_view BuildInfo::productHost() { return BRINDLEAF_PRODUCT_HOST; }

} // namespace brindleaf
