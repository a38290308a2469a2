#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindleaf {

// The folder of the one running copy's lock and socket: one this user owns
// and nobody else can write to or replace. Tried in this order:
//   $XDG_RUNTIME_DIR/brindleaf   when the runtime folder is such a folder;
//   /run/user/UID/brindleaf      when that one is (a start without the
//                                variable finds the copy of a desktop session);
//   /tmp/brindleaf-UID           made with mode 0700;
//   $XDG_CACHE_HOME/brindleaf    (~/.cache/brindleaf) in the user's own home.
// A folder counts when lstat shows a directory, not a link, owned by the user
// and closed to group and others; brindleaf's own folder is made (0700) when
// missing and looked at again after. A folder that fails is never used.
class InstanceFolder {
public:
    static constexpr const char* lockName = "instance.lock";
    static constexpr const char* socketName = "instance.socket";

    struct Roots {
        std::optional<std::filesystem::path> runtime; // $XDG_RUNTIME_DIR, when set
        std::filesystem::path userRuntime;            // /run/user/UID
        std::filesystem::path temporary;              // /tmp
        std::filesystem::path cache;                  // $XDG_CACHE_HOME, else ~/.cache
        uid_t user = 0;

        // The roots of this process's user and environment.
        static Roots ofThisProcess();
    };

    // A folder passed over: `reason` says why in words ("it belongs to user
    // 1001"), `code` in one word for the journal ("owner").
    struct Refusal {
        std::filesystem::path folder;
        std::string code;
        std::string reason;
    };

    // Tries a folder that passed: nothing when it serves (its lock is taken,
    // or held by a running copy), else why it cannot.
    using Attempt = std::function<std::optional<Refusal>(const std::filesystem::path& folder)>;

    struct Choice {
        std::optional<std::filesystem::path> folder; // none when no folder serves
        std::vector<Refusal> refused;                // in the order they were tried
    };

    // The first folder in the order above that passes and that `attempt`
    // takes. /run/user/UID may be missing without a word (no login session).
    static Choice choose(const Roots& roots, const Attempt& attempt);

    // Every folder `choose` could take, in its order, as they are now: a
    // running copy chose one of them, maybe with other roots (another
    // XDG_RUNTIME_DIR) or when an earlier one did not serve yet. Only those
    // that pass the check, with their roots passing it too; nothing is made.
    // Those that are there but fail go to `refused`, when given.
    static std::vector<std::filesystem::path> candidates(const Roots& roots, std::vector<Refusal>* refused = nullptr);

    // Why an existing folder fails the check; nothing when it passes.
    static std::optional<Refusal> check(const std::filesystem::path& folder, uid_t user);
};

} // namespace brindleaf
