#pragma once

#include <stdexcept>
#include <string>

namespace brindleaf {

// The status store's own errors; what() is the user-facing sentence.
class CloudKitStatusStoreError : public std::runtime_error {
public:
    enum class Kind { missingPayloadData, stalePayload };

    explicit CloudKitStatusStoreError(Kind kind) : std::runtime_error(sentence(kind)), kind_(kind) {}

    Kind kind() const { return kind_; }
    // The case name: "missingPayloadData" or "stalePayload".
    std::string caseName() const { return kind_ == Kind::missingPayloadData ? "missingPayloadData" : "stalePayload"; }

    static std::string sentence(Kind kind) {
        return kind == Kind::missingPayloadData ? "The status from this computer is incomplete. It will update shortly."
                                                : "This computer hasn\u2019t updated its status recently.";
    }

private:
    Kind kind_;
};

} // namespace brindleaf
