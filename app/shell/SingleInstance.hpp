#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace brindleaf {

// One running copy per user: a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR/brindleaf, else a folder of the user's own under /tmp).
// A lock left by a copy that died is taken over.
class SingleInstance {
public:
    // Tries to take the lock; held until destruction.
    SingleInstance();
    bool isFirst() const { return locked_; }
    static QString lockPath();

private:
    std::unique_ptr<QLockFile> lock_;
    bool locked_ = false;
};

} // namespace brindleaf
