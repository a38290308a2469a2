#include "tests/windows/WindowsTestSupport.hpp"

#include <QCoreApplication>

namespace brindleaf::testing {

QApplication& windowsApplication() {
    static int argc = 1;
    static char name[] = "windows_tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app =
        qobject_cast<QApplication*>(QCoreApplication::instance()) ?: new QApplication(argc, argv);
    return *app;
}

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

} // namespace brindleaf::testing
