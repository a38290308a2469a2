#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace brindleaf {

// SIGTERM and SIGHUP (a session manager or systemd at logout, a closed
// terminal) take the Quit path: the signal handler writes the signal's number
// to a pipe, and the event loop, seeing it, logs `app.quit.signal signal=N`
// and quits, so what follows the loop (the Quit write of unsaved settings)
// runs as for Quit. Installed while the object lives.
class SessionEndSignals final : public QObject {
public:
    SessionEndSignals();
    ~SessionEndSignals() override;

private:
    void readSignals();

    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace brindleaf
