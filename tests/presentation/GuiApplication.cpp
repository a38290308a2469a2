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
