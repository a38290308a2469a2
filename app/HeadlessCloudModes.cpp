#include "app/HeadlessCloudModes.hpp"

#include "app/CompositionRoot.hpp"
#include "app/HeadlessStatusCheck.hpp"
#include "core/TextUtils.hpp"
#include "platform/ThreadMainQueue.hpp"
#include "sync/CloudKitEntitlement.hpp"
#include "sync/CloudKitStatusErrorPresenter.hpp"
#include "sync/CloudKitStatusStore.hpp"
#include "sync/StatusPayloadBuilder.hpp"
#include "sync/StatusPayloadCodec.hpp"

#include <cstdio>
#include <exception>
#include <functional>

namespace brindleaf::HeadlessCloudModes {

const char* const missingEntitlementMessage =
    "cloud status command failed: Brindleaf has no valid entitlement for the status record store.\n"
    "Put the brindleaf.entitlements file that the build writes beside the program, or in <prefix>/share/brindleaf "
    "with cmake --install, then run the command again.\n";

namespace {

void writeOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void writeError(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

// The payload JSON as one line of valid UTF-8.
std::string jsonLine(const StatusPayload& payload) {
    std::string encoded = StatusPayloadCodec::encode(payload);
    if (!isValidUTF8(encoded)) encoded = repairUTF8(encoded);
    return encoded + "\n";
}

// The status now; what it leaves out is said on standard error.
AgentStatusSnapshot currentSnapshot(AgentStatusService& service) {
    AgentStatusSnapshot snapshot = service.snapshot(currentDate(), CompositionRoot::enabledStatusProviders());
    writeError(HeadlessStatusCheck::markIncomplete(snapshot));
    return snapshot;
}

// Runs the cloud operation on a thread of its own and waits for it. On
// failure writes the presenter's sentence and returns 1.
int runCloudCommand(const std::function<void()>& operation) {
    std::exception_ptr error;
    {
        ThreadMainQueue worker;
        worker.runAndWait([&] {
            try {
                operation();
            } catch (...) {
                error = std::current_exception();
            }
        });
    }
    if (error) {
        writeError("cloud status command failed: " + CloudKitStatusErrorPresenter::message(error) + "\n");
        return 1;
    }
    return 0;
}

} // namespace

std::string syncedLine(const StatusPayload& payload) {
    return "synced checkedAt=" + StatusPayloadCodec::formatDate(payload.checkedAt) +
           " active=" + std::to_string(payload.activeCount);
}

int dumpStatusJSON(AgentStatusService& service) {
    AgentStatusSnapshot snapshot = currentSnapshot(service);
    StatusPayload payload =
        buildStatusPayload(snapshot, deviceDisplayName(), StatusPayloadPrivacy::standard(), rawStaleSessionSource());
    std::string line;
    try {
        line = jsonLine(payload);
    } catch (const std::exception& error) {
        writeError(std::string("failed to encode status payload: ") + error.what() + "\n");
        return 1;
    }
    writeOut(line);
    return 0;
}

int syncStatusNow(AgentStatusService& service) {
    if (!commandLineHasCloudKitEntitlement()) {
        writeError(missingEntitlementMessage);
        return 1;
    }
    AgentStatusSnapshot snapshot = currentSnapshot(service);
    StatusPayload payload = buildStatusPayload(snapshot, deviceDisplayName(), StatusPayloadPrivacy::standard(),
                                               clearedStaleSessionSource());
    std::string line;
    int status = runCloudCommand([&] {
        CloudKitStatusStore store(CloudKitStatusConfiguration::standard());
        store.save(payload);
        try {
            store.ensureSubscription();
        } catch (...) {
            // The record is saved; the subscription is set up again next time.
        }
        line = syncedLine(payload) + "\n";
    });
    if (status == 0) writeOut(line);
    return status;
}

int fetchCloudStatusJSON() {
    if (!commandLineHasCloudKitEntitlement()) {
        writeError(missingEntitlementMessage);
        return 1;
    }
    std::string line;
    int status = runCloudCommand([&] {
        CloudKitStatusStore store(CloudKitStatusConfiguration::standard());
        line = jsonLine(store.fetchPayload());
    });
    if (status == 0) writeOut(line);
    return status;
}

} // namespace brindleaf::HeadlessCloudModes
