#include "tests/windows/WindowsTestSupport.hpp"

#include "tests/support/IsolatedUserFolders.hpp"

#include <QCoreApplication>

namespace brindleaf::testing {

namespace {
// Set before main: every test of this binary, however it makes its
// QApplication, writes only below a temporary folder.
const IsolatedUserFolders isolatedUserFolders;
} // namespace

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
