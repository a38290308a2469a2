#pragma once

#include <string>
#include <sys/types.h>

namespace brindleaf::testing {

// An abstract socket name (InstanceName) taken first, as any process of any
// user may take one: bound only, or listening too. A listening holder made as
// `user` (the effective user while it listens, which is whom a peer's
// SO_PEERCRED names; another user needs root) is seen as that user's. The
// name is free again once the holder is gone.
class InstanceNameHolder {
public:
    enum class Kind { bound, listening };

    InstanceNameHolder(const std::string& name, Kind kind, uid_t user);
    ~InstanceNameHolder();
    InstanceNameHolder(const InstanceNameHolder&) = delete;
    InstanceNameHolder& operator=(const InstanceNameHolder&) = delete;

    // Whether the name was taken (an empty text), else why not.
    const std::string& failure() const { return failure_; }

    // The connections made to it so far (a listening holder), each read to
    // its end: how many, and all they sent.
    struct Heard {
        int connections = 0;
        std::string bytes;
    };
    Heard hear();

private:
    int descriptor_ = -1;
    std::string failure_;
};

} // namespace brindleaf::testing
