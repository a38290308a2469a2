#include "presentation/QtMainQueue.hpp"
#include "tests/presentation/GuiApplication.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace brindleaf;

namespace {

// The binary's one application object, which the widget tests beside these
// need to be a QApplication.
QCoreApplication& application() {
    brindleaf::testing::ensureGuiApplication();
    return *QCoreApplication::instance();
}

} // namespace

TEST(QtMainQueue, RunsPostedJobsInOrderAndDelayedOnesNeverEarlyOnTheApplicationThread) {
    application();
    QtMainQueue queue;
    QEventLoop loop;
    std::vector<std::string> ran;
    std::vector<bool> onMainThread;
    double postedAt = queue.now();
    double delayedRanAt = 0;

    queue.postAfter(0.05, [&] {
        ran.push_back("delayed");
        delayedRanAt = queue.now();
        loop.quit();
    });
    std::thread other([&] {
        queue.post([&] {
            ran.push_back("from another thread");
            onMainThread.push_back(QThread::currentThread() == application().thread());
        });
    });
    other.join();
    queue.post([&] { ran.push_back("second"); });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit); // a bound for a broken queue
    loop.exec();

    EXPECT_EQ(ran, (std::vector<std::string>{"from another thread", "second", "delayed"}));
    EXPECT_EQ(onMainThread, std::vector<bool>{true});
    EXPECT_GE(delayedRanAt - postedAt, 0.05);
}

TEST(QtMainQueue, JobsWaitingWhenTheQueueGoesNeverRun) {
    application();
    bool ran = false;
    {
        QtMainQueue queue;
        queue.post([&] { ran = true; });
        queue.postAfter(0, [&] { ran = true; });
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}
