#include "platform/CloudRecordStoreError.hpp"

namespace brindleaf {

std::string_view toString(CloudErrorCode code) {
    switch (code) {
    case CloudErrorCode::internalError: return "internalError";
    case CloudErrorCode::partialFailure: return "partialFailure";
    case CloudErrorCode::networkUnavailable: return "networkUnavailable";
    case CloudErrorCode::networkFailure: return "networkFailure";
    case CloudErrorCode::badContainer: return "badContainer";
    case CloudErrorCode::serviceUnavailable: return "serviceUnavailable";
    case CloudErrorCode::requestRateLimited: return "requestRateLimited";
    case CloudErrorCode::missingEntitlement: return "missingEntitlement";
    case CloudErrorCode::notAuthenticated: return "notAuthenticated";
    case CloudErrorCode::permissionFailure: return "permissionFailure";
    case CloudErrorCode::unknownItem: return "unknownItem";
    case CloudErrorCode::invalidArguments: return "invalidArguments";
    case CloudErrorCode::serverRecordChanged: return "serverRecordChanged";
    case CloudErrorCode::serverRejectedRequest: return "serverRejectedRequest";
    case CloudErrorCode::batchRequestFailed: return "batchRequestFailed";
    case CloudErrorCode::zoneBusy: return "zoneBusy";
    case CloudErrorCode::quotaExceeded: return "quotaExceeded";
    }
    return "unlisted";
}

std::string CloudRecordStoreError::defaultDescription(CloudErrorCode code) {
    switch (code) {
    case CloudErrorCode::internalError: return "Internal error";
    case CloudErrorCode::partialFailure: return "Some items failed";
    case CloudErrorCode::networkUnavailable: return "Network unavailable";
    case CloudErrorCode::networkFailure: return "Network failure";
    case CloudErrorCode::badContainer: return "Bad container";
    case CloudErrorCode::serviceUnavailable: return "Service unavailable";
    case CloudErrorCode::requestRateLimited: return "Request rate limited";
    case CloudErrorCode::missingEntitlement: return "Missing entitlement";
    case CloudErrorCode::notAuthenticated: return "Not authenticated";
    case CloudErrorCode::permissionFailure: return "Permission failure";
    case CloudErrorCode::unknownItem: return "Item not found";
    case CloudErrorCode::invalidArguments: return "Invalid arguments";
    case CloudErrorCode::serverRecordChanged: return "Record changed on the server";
    case CloudErrorCode::serverRejectedRequest: return "Request rejected";
    case CloudErrorCode::batchRequestFailed: return "Batch request failed";
    case CloudErrorCode::zoneBusy: return "Zone busy";
    case CloudErrorCode::quotaExceeded: return "Quota exceeded";
    }
    return "Error " + std::to_string(static_cast<int>(code));
}

CloudRecordStoreError::CloudRecordStoreError(CloudErrorCode code, std::string description)
    : std::runtime_error(description.empty() ? defaultDescription(code) : description), code_(code),
      description_(description.empty() ? defaultDescription(code) : std::move(description)) {}

std::string CloudRecordStoreError::fullDescription() const {
    std::string name(toString(code_));
    if (name == "unlisted") name = "code";
    return "CloudRecordStoreError(code=" + std::to_string(static_cast<int>(code_)) + " " + name + "): " + description_;
}

} // namespace brindleaf
