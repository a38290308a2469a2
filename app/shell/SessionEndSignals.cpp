#include "app/shell/SessionEndSignals.hpp"

#include "platform/Logger.hpp"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace brindleaf {

namespace {

// The pipe's write end, for the handler (async-signal-safe: one write).
volatile std::sig_atomic_t writeEnd = -1;

void onSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (writeEnd >= 0) {
        const ssize_t written = ::write(writeEnd, &byte, 1);
        (void)written; // a full pipe holds a quit to read already
    }
    errno = saved;
}

constexpr int endingSignals[] = {SIGTERM, SIGHUP};

} // namespace

SessionEndSignals::SessionEndSignals() {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        Logger("App").error("app.signal.unavailable error=" + std::to_string(errno));
        return;
    }
    writeEnd = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readSignals(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : endingSignals) ::sigaction(number, &action, nullptr);
}

SessionEndSignals::~SessionEndSignals() {
    // Past the event loop a signal ends the program as it did before (the
    // Quit write that follows is bounded anyway).
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : endingSignals) ::sigaction(number, &action, nullptr);
    writeEnd = -1;
    notifier_.reset();
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void SessionEndSignals::readSignals() {
    unsigned char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(pipe_[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) Logger("App").notice("app.quit.signal signal=" + std::to_string(bytes[i]));
    }
    QCoreApplication::quit();
}

} // namespace brindleaf
