#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace brindleaf {

// The error codes of the cloud record store. The numbers are the ones the
// companion's cloud service uses, so messages and logs line up on both sides.
enum class CloudErrorCode : int {
    internalError = 1,
    partialFailure = 2,
    networkUnavailable = 3,
    networkFailure = 4,
    badContainer = 5,
    serviceUnavailable = 6,
    requestRateLimited = 7,
    missingEntitlement = 8,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,
    invalidArguments = 12,
    serverRecordChanged = 14,
    serverRejectedRequest = 15,
    batchRequestFailed = 22,
    zoneBusy = 23,
    quotaExceeded = 25,
};

// The case name of a code ("unknownItem"); "code N" for a number outside the list.
std::string_view toString(CloudErrorCode code);

// An error of the cloud record store: a code and a description. what() is the
// description, which is never empty (a default sentence per code stands in).
class CloudRecordStoreError : public std::runtime_error {
public:
    explicit CloudRecordStoreError(CloudErrorCode code, std::string description = {});

    CloudErrorCode code() const { return code_; }
    const std::string& description() const { return description_; }
    // The full form for logs and diagnostics:
    // CloudRecordStoreError(code=11 unknownItem): Record not found
    std::string fullDescription() const;

    // The default sentence of a code.
    static std::string defaultDescription(CloudErrorCode code);

private:
    CloudErrorCode code_;
    std::string description_;
};

} // namespace brindleaf
