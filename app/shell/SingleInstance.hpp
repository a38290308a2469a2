#pragma once

#include <QLockFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace brindleaf {

// One running copy per user: a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR/brindleaf when the user owns that folder, else a folder
// of the user's own under /tmp).
// A lock left by a copy that died is taken over. The copy that holds it
// listens on a local socket beside it, where later starts hand it their
// launch flags (LaunchPlan's hand-off message); it answers "ok" once it has
// taken them. Only processes of the same user are heard or believed.
class SingleInstance {
public:
    enum class Role {
        // This is the only copy: it holds the lock and listens.
        first,
        // A running copy took this start's message.
        handedOver,
        // A copy holds the lock but took no message within the bound.
        noAnswer,
    };

    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock, or hands `message` to the copy that holds it. While a
    // copy holds the lock without listening yet (it is starting, or it just
    // died), it is asked again until the lock is free or `bound` has passed;
    // every wait ends at `bound`.
    Role start(const std::string& message, std::chrono::milliseconds bound);

    // The first copy, once its application object exists: from now on (the
    // event loop runs) the launch flags of every hand-off message are passed
    // to `onLaunch` once the message was answered. A connection that has not
    // sent its whole message within 5 seconds is dropped unanswered, and so is
    // one that is not a hand-off message.
    void listen(std::function<void(std::vector<std::string>)> onLaunch);

    static QString lockPath();
    static QString socketPath();

private:
    struct Connection;
    bool takeLock();
    void acceptConnections();
    void readFrom(int descriptor);
    void drop(int descriptor);

    std::unique_ptr<QLockFile> lock_;
    int listener_ = -1;
    // Made children of the application object, which may go first.
    QPointer<QSocketNotifier> listenerNotifier_;
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::function<void(std::vector<std::string>)> onLaunch_;
};

} // namespace brindleaf
