#include "tests/presentation/ViewTestSupport.hpp"

#include "platform/ManualMainQueue.hpp"

#include <QCoreApplication>

namespace brindleaf::testing {

void settle(ManualMainQueue& queue) {
    for (int i = 0; i < 3; ++i) {
        queue.drain();
        QCoreApplication::processEvents();
    }
}

} // namespace brindleaf::testing
