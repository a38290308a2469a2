#pragma once

#include "app/InstanceFolder.hpp"

#include <QLockFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace brindleaf {

// One running copy per user: a lock file in a folder of the user's own (see
// InstanceFolder: the runtime folder when it is safe, else /run/user/UID,
// /tmp/brindleaf-UID or the user's cache folder).
// A lock left by a copy that died is taken over. The copy that holds it
// listens on a local socket beside it, where later starts hand it their
// launch flags (LaunchPlan's hand-off message); it answers "ok" once it has
// taken them. A copy that listens there is the running one even when its lock
// file was removed. It also listens at the user's name (InstanceName), which
// a start asks first: a start whose environment leads it to other folders
// finds the copy there. Only processes of the same user are heard or
// believed; a name another user holds is passed over, with a word.
class SingleInstance {
public:
    enum class Role {
        // This is the only copy: it holds the lock and listens.
        first,
        // A running copy took this start's message.
        handedOver,
        // A copy holds the lock or the name but took no message within the bound.
        noAnswer,
        // No folder could hold the lock: whether a copy runs is not known.
        noFolder,
    };

    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock, or hands `message` to the copy that holds it. While a
    // copy holds the lock without listening yet (it is starting, or it just
    // died), it is asked again until the lock is free or `bound` has passed;
    // every wait ends at `bound`. A copy listening at the user's name is
    // asked first, before any folder; a name held by another user's process,
    // or by one that takes no connection, is said once and passed over. Each
    // folder passed over is named, with the reason, on standard error and in
    // the journal.
    Role start(const std::string& message, std::chrono::milliseconds bound);

    // The first copy, once its application object exists: from now on (the
    // event loop runs) the launch flags of every hand-off message are passed
    // to `onLaunch` once the message was answered. A connection that has not
    // sent its whole message within 5 seconds is dropped unanswered, and so is
    // one that is not a hand-off message.
    void listen(std::function<void(std::vector<std::string>)> onLaunch);

private:
    struct Connection;
    std::optional<InstanceFolder::Refusal> openLock(const std::filesystem::path& folder);
    void listenHere();
    std::filesystem::path lockPath() const;
    std::filesystem::path socketPath() const;
    // Hands `message` to a copy of this user's listening at the name, if
    // one does; nothing when none does or the name is refused.
    std::optional<Role> handToNamedCopy(const std::string& message, std::chrono::steady_clock::time_point deadline);
    // Listens at the name; false when a copy of this user's holds it. Held
    // by anyone else, it is refused and this copy goes on without it.
    bool claimName();
    // Says once, on standard error and in the journal, why the name is not used.
    void refuseName(const std::string& code, const std::string& reason);
    void acceptConnections(int listener);
    void readFrom(int descriptor);
    void drop(int descriptor);

    std::filesystem::path folder_;
    std::unique_ptr<QLockFile> lock_;
    int listener_ = -1;
    // The socket file this copy made (device and inode), the only one it removes.
    std::optional<std::pair<dev_t, ino_t>> socketFile_;
    // Made children of the application object, which may go first.
    QPointer<QSocketNotifier> listenerNotifier_;
    // The user's name (InstanceName), its listening socket when this copy
    // holds it, and whether it was refused (said once).
    std::string name_;
    int nameListener_ = -1;
    QPointer<QSocketNotifier> nameNotifier_;
    bool nameRefused_ = false;
    std::map<int, std::unique_ptr<Connection>> connections_;
    std::function<void(std::vector<std::string>)> onLaunch_;
};

} // namespace brindleaf
