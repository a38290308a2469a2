#pragma once

namespace brindleaf::testing {

// The process's QApplication for tests that draw (offscreen unless the
// environment chose a platform). Tests of the rules never call it.
void ensureGuiApplication();

} // namespace brindleaf::testing
