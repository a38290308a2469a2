#include "tests/app/shell/ShellTestSupport.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

namespace brindleaf::testing {

void shellApplication() {
    static int argc = 1;
    static char name[] = "app_shell_tests";
    static char* argv[] = {name, nullptr};
    if (qApp) return;
    // Run by hand as well as by CTest: off any display unless one was chosen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}

bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

} // namespace brindleaf::testing
