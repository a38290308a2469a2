#pragma once

#include "core/AgentStatusProvider.hpp"
#include "core/AgentStatusSnapshot.hpp"
#include "core/Date.hpp"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// The one entry point through which the rest of the system learns the agents'
// status. Asked for a snapshot, it runs the enabled providers' scans at the
// same time on worker threads, waits for each until `providerTimeout` seconds
// after its own start, answers for late or still-busy providers with an
// "unknown" substitute, feeds everything to its run-state ledger and returns
// the committed snapshot.
//
// Each provider has one long-lived worker thread, started with its first scan
// and woken for each later one; idle, it sleeps on a condition variable. At
// most one scan per provider runs at any time. A scan that misses its deadline
// keeps running on its worker; it holds the provider alive and the service's
// state only weakly, so it may finish after snapshot() returned or after the
// service is gone, and the process may end (even by _exit) while it runs:
// nothing ever joins a worker. Destroying the service only tells the workers
// to stop; each ends once its current scan, if any, has returned.
class AgentStatusService {
public:
    // The lease the ledger gives strong evidence without an expiry of its own.
    static constexpr double strongActiveLeaseInterval = 5;

    // Provider names must be distinct.
    AgentStatusService(std::vector<std::shared_ptr<AgentStatusProvider>> providers, double providerTimeout,
                       double stalePreviousStateInterval = 12.0, double transientCompleteHoldInterval = 1.2);
    ~AgentStatusService();
    AgentStatusService(const AgentStatusService&) = delete;
    AgentStatusService& operator=(const AgentStatusService&) = delete;

    // Scans the enabled providers (all when absent, none for an empty set; names
    // compared exactly) and commits one snapshot at `at`. Blocks the caller for
    // at most about one time limit. Safe to call from any thread.
    AgentStatusSnapshot snapshot(Date at, const std::optional<std::set<std::string>>& enabledProviders = std::nullopt);

    const std::vector<std::shared_ptr<AgentStatusProvider>>& providers() const { return providers_; }
    double providerTimeout() const { return providerTimeout_; }
    double stalePreviousStateInterval() const { return stalePreviousStateInterval_; }
    double transientCompleteHoldInterval() const { return transientCompleteHoldInterval_; }

    // A whole number of seconds as "5s", anything else as "2.50s".
    static std::string formatSeconds(double seconds);

    // The substitute for a provider that is late or still busy: "unknown", no
    // sessions, the last answer's errors followed by `message`; it read nothing.
    static ProviderSnapshot substituteSnapshot(const ProviderSnapshot* lastSnapshot, const std::string& providerName,
                                               const std::string& message, Date refreshTime);

private:
    struct ProviderState;
    struct Shared;
    struct DetectionResult;
    struct Detection;
    struct Worker;
    struct Job;

    Detection startDetection(const std::shared_ptr<AgentStatusProvider>& provider, Date refreshTime);
    ProviderSnapshot awaitDetection(Detection& detection, Date refreshTime);
    static void finishDetection(const std::shared_ptr<AgentStatusProvider>& provider, Date refreshTime,
                                const std::weak_ptr<Shared>& service, const std::string& name,
                                const std::shared_ptr<DetectionResult>& result, double startedAt);
    static void runWorker(const std::shared_ptr<Worker>& worker, const std::weak_ptr<Shared>& service);

    std::vector<std::shared_ptr<AgentStatusProvider>> providers_;
    double providerTimeout_;
    double stalePreviousStateInterval_;
    double transientCompleteHoldInterval_;
    std::shared_ptr<Shared> shared_;
};

} // namespace brindleaf
