#pragma once

#include <filesystem>

namespace brindleaf::testing {

// The build folder the tests belong to: BRINDLEAF_BINARY_DIR when set (CTest
// sets it), else the folder above the test binary's own (build/release for
// build/release/tests/app_tests), so a test binary run by hand from anywhere
// finds the program built beside it.
std::filesystem::path buildDirectory();

} // namespace brindleaf::testing
