#include "sync/CloudKitStatusErrorPresenter.hpp"

#include "platform/CloudRecordStoreError.hpp"
#include "sync/CloudKitStatusStoreError.hpp"

namespace brindleaf::CloudKitStatusErrorPresenter {

namespace {

const char* const fallbackMessage = "The status couldn\u2019t be updated.";
// The record store is kept on this computer's own disk.
const char* const noSpaceMessage = "There isn\u2019t enough space on this computer for the status record.";

} // namespace

std::string message(const std::exception& error) {
    if (const auto* cloud = dynamic_cast<const CloudRecordStoreError*>(&error)) {
        switch (cloud->code()) {
        case CloudErrorCode::networkUnavailable:
        case CloudErrorCode::networkFailure:
            return "Connect to the internet to update the status.";
        case CloudErrorCode::serviceUnavailable:
            return "The status record store is temporarily unavailable. Try again later.";
        case CloudErrorCode::requestRateLimited:
        case CloudErrorCode::zoneBusy:
            return "The status record store is busy. Brindleaf will try again shortly.";
        case CloudErrorCode::notAuthenticated:
            return "Sign in to the status record store on this computer to see its status.";
        case CloudErrorCode::permissionFailure:
            return "Brindleaf doesn\u2019t have permission to use the status record store.";
        case CloudErrorCode::unknownItem:
            return "This computer hasn\u2019t shared a status yet.";
        case CloudErrorCode::quotaExceeded:
            return noSpaceMessage;
        default:
            break;
        }
    }
    std::string text = error.what() ? error.what() : "";
    if (!text.empty()) return text;
    return fallbackMessage;
}

std::string message(const std::exception_ptr& error) {
    if (!error) return fallbackMessage;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return message(caught);
    } catch (...) {
        return fallbackMessage;
    }
}

std::string fullDescription(const std::exception_ptr& error) {
    if (!error) return "unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const CloudRecordStoreError& caught) {
        return caught.fullDescription();
    } catch (const CloudKitStatusStoreError& caught) {
        return "CloudKitStatusStoreError." + caught.caseName();
    } catch (const std::exception& caught) {
        std::string text = caught.what() ? caught.what() : "";
        return text.empty() ? "unknown error" : text;
    } catch (...) {
        return "unknown error";
    }
}

} // namespace brindleaf::CloudKitStatusErrorPresenter
