#pragma once

#include <string_view>

namespace brindleaf {

// Constants fixed when the program is built.
struct BuildInfo {
    // The project version ("1.0.0"), shown to the user and compared with
    // the versions an appcast offers.
    static std::string_view version();
    // Host name of the product web site ("quorvale.com"), which also answers
    // the update-feed lookup (BRINDLEAF_PRODUCT_HOST at configure time).
    static std::string_view productHost();
};

} // namespace brindleaf
