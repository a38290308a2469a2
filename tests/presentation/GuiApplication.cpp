#include "tests/presentation/GuiApplication.hpp"

#include <QApplication>

namespace brindleaf::testing {

void ensureGuiApplication() {
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "presentation_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

} // namespace brindleaf::testing

// Under LeakSanitizer: fontconfig, which Qt uses to draw text, keeps its caches
// until the process ends; those are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
