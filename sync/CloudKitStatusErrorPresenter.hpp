#pragma once

#include <exception>
#include <string>

namespace brindleaf {

// One short sentence for any error of the cloud operations, for the user.
namespace CloudKitStatusErrorPresenter {

std::string message(const std::exception_ptr& error);
std::string message(const std::exception& error);

// The full description for logs and the health record: the store's code and
// text, the status store error's case, or the error's own text.
std::string fullDescription(const std::exception_ptr& error);

} // namespace CloudKitStatusErrorPresenter

} // namespace brindleaf
