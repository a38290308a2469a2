#include "presentation/QtMainQueue.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <utility>

namespace brindleaf {

QtMainQueue::QtMainQueue() : context_(std::make_unique<QObject>()) {
    if (auto* application = QCoreApplication::instance()) context_->moveToThread(application->thread());
}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(Job job) {
    QMetaObject::invokeMethod(
        context_.get(), [job = std::move(job)] { job(); }, Qt::QueuedConnection);
}

// The timer is started on the queue's own thread; rounding the delay up to
// whole milliseconds keeps a job from running early.
void QtMainQueue::postAfter(double delaySeconds, Job job) {
    auto milliseconds = static_cast<int>(std::ceil(std::max(0.0, delaySeconds) * 1000));
    QObject* context = context_.get();
    QMetaObject::invokeMethod(
        context,
        [context, milliseconds, job = std::move(job)]() mutable {
            QTimer::singleShot(milliseconds, Qt::PreciseTimer, context, std::move(job));
        },
        Qt::QueuedConnection);
}

double QtMainQueue::now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace brindleaf
