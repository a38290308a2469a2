#include "core/AgentStatusService.hpp"

#include "core/RunStateLedger.hpp"
#include "platform/DecimalText.hpp"
#include "platform/Logger.hpp"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace brindleaf {

namespace {

// Longest time limit honoured; keeps deadline arithmetic far from overflow.
constexpr double maximumProviderTimeout = 86400.0 * 365;

double sanitizedTimeout(double seconds) {
    if (std::isnan(seconds) || seconds < 0) return 0;
    return std::min(seconds, maximumProviderTimeout);
}

int64_t wholeMilliseconds(double seconds) { return static_cast<int64_t>(seconds * 1000.0); }

// Appends the decimal digits of `value`.
void appendNumber(std::string& out, int64_t value) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    out.append(digits, static_cast<size_t>(length));
}

// Log lines are assembled in a per-thread buffer that keeps its capacity, so
// writing one costs no allocation once the thread has written a few. A buffer
// grown by an unusually long line is let go.
std::string& lineBuffer() {
    constexpr size_t largestKept = 16 * 1024;
    thread_local std::string line;
    if (line.capacity() > largestKept) std::string().swap(line);
    line.clear();
    return line;
}

} // namespace

// One scan handed to a provider's worker.
struct AgentStatusService::Job {
    std::shared_ptr<AgentStatusProvider> provider;
    Date refreshTime = 0;
    std::string name;
    std::shared_ptr<DetectionResult> result;
    double startedAt = 0;
};

// The mailbox of one provider's long-lived worker thread. The service posts
// scans and, when it goes away, tells the worker to stop; the worker sleeps
// while there is nothing to do and never holds the lock while it scans.
struct AgentStatusService::Worker {
    std::mutex lock;
    std::condition_variable wakeup;
    std::deque<Job> pending;
    bool stopped = false;

    void post(Job job) {
        {
            std::lock_guard guard(lock);
            pending.push_back(std::move(job));
        }
        wakeup.notify_one();
    }
    void stop() {
        {
            std::lock_guard guard(lock);
            stopped = true;
        }
        wakeup.notify_one();
    }
    // The next scan to run; none once stopped with nothing left to do.
    std::optional<Job> next() {
        std::unique_lock guard(lock);
        wakeup.wait(guard, [this] { return stopped || !pending.empty(); });
        if (pending.empty()) return std::nullopt;
        Job job = std::move(pending.front());
        pending.pop_front();
        return job;
    }
};

// Per-provider bookkeeping.
struct AgentStatusService::ProviderState {
    std::shared_ptr<const ProviderSnapshot> lastSnapshot;
    bool isDetecting = false;
    std::shared_ptr<Worker> worker; // started with the provider's first scan
};

// What the service shares with its workers. Workers hold it weakly: once the
// service is gone they touch no provider state and log nothing.
struct AgentStatusService::Shared {
    Logger logger{"Status"};
    std::mutex lock;
    std::unordered_map<std::string, ProviderState> providerStates;
    RunStateLedger runStateLedger{AgentStatusService::strongActiveLeaseInterval};
};

// The meeting point of one worker and the caller waiting for it. The worker
// stores its snapshot, logs, and signals last.
struct AgentStatusService::DetectionResult {
    std::mutex lock;
    std::condition_variable signalled;
    std::optional<ProviderSnapshot> storedSnapshot;
    bool isSignalled = false;

    void store(ProviderSnapshot snapshot) {
        std::lock_guard guard(lock);
        storedSnapshot = std::move(snapshot);
    }
    void signal() {
        {
            std::lock_guard guard(lock);
            isSignalled = true;
        }
        signalled.notify_all();
    }
    // Waits until signalled or the deadline passes; the stored snapshot, if any.
    std::optional<ProviderSnapshot> wait(MonotonicClock::time_point deadline) {
        std::unique_lock guard(lock);
        if (!signalled.wait_until(guard, deadline, [this] { return isSignalled; })) return std::nullopt;
        return std::move(storedSnapshot);
    }
};

// The answer of starting one provider: an immediate snapshot, or a running scan.
struct AgentStatusService::Detection {
    std::optional<ProviderSnapshot> immediate;
    std::string providerName;
    MonotonicClock::time_point deadline;
    std::shared_ptr<DetectionResult> result;
};

AgentStatusService::AgentStatusService(std::vector<std::shared_ptr<AgentStatusProvider>> providers,
                                       double providerTimeout, double stalePreviousStateInterval,
                                       double transientCompleteHoldInterval)
    : providers_(std::move(providers)),
      providerTimeout_(sanitizedTimeout(providerTimeout)),
      stalePreviousStateInterval_(stalePreviousStateInterval),
      transientCompleteHoldInterval_(transientCompleteHoldInterval),
      shared_(std::make_shared<Shared>()) {
    std::erase(providers_, nullptr);
    for (const auto& provider : providers_) shared_->providerStates.try_emplace(provider->name());
}

AgentStatusService::~AgentStatusService() {
    // Never waits for a worker: one may be stuck in a scan. Each ends on its
    // own once its current scan, if any, has returned.
    std::vector<std::shared_ptr<Worker>> workers;
    {
        std::lock_guard guard(shared_->lock);
        for (auto& [name, state] : shared_->providerStates) {
            if (state.worker) workers.push_back(std::move(state.worker));
        }
    }
    for (const auto& worker : workers) worker->stop();
}

AgentStatusSnapshot AgentStatusService::snapshot(Date at,
                                                 const std::optional<std::set<std::string>>& enabledProviders) {
    std::vector<Detection> detections;
    detections.reserve(providers_.size());
    for (const auto& provider : providers_) {
        if (enabledProviders && !enabledProviders->contains(provider->name())) continue;
        detections.push_back(startDetection(provider, at));
    }

    std::vector<ProviderSnapshot> collected;
    collected.reserve(detections.size());
    for (auto& detection : detections) {
        if (detection.immediate)
            collected.push_back(std::move(*detection.immediate));
        else
            collected.push_back(awaitDetection(detection, at));
    }

    AgentStatusSnapshot committed;
    {
        std::lock_guard guard(shared_->lock);
        shared_->runStateLedger.apply(collected, at);
        committed = shared_->runStateLedger.buildSnapshot(std::move(collected), at);
    }
    std::string& line = lineBuffer();
    line.append("snapshot.committed state=").append(toString(committed.state)).append(" active=");
    appendNumber(line, static_cast<int64_t>(committed.activeSessions.size()));
    line.append(" reason=ledger");
    shared_->logger.debug(line);
    return committed;
}

AgentStatusService::Detection AgentStatusService::startDetection(const std::shared_ptr<AgentStatusProvider>& provider,
                                                                 Date refreshTime) {
    Detection detection;
    detection.providerName = provider->name();
    const std::string& name = detection.providerName;
    const double startedAt = monotonicSeconds();
    {
        std::string& line = lineBuffer();
        line.append("provider.started name=").append(name);
        shared_->logger.debug(line);
    }

    std::unique_lock guard(shared_->lock);
    ProviderState& state = shared_->providerStates[name];
    if (state.isDetecting) {
        const std::string message = name + " detection is still running; showing last known state.";
        detection.immediate = substituteSnapshot(state.lastSnapshot.get(), name, message, refreshTime);
        guard.unlock();
        shared_->logger.error("provider.singleflight provider=" + name + " stateChanged=false healthOnly=true");
        return detection;
    }
    state.isDetecting = true;
    std::shared_ptr<Worker> worker = state.worker;
    guard.unlock();

    detection.result = std::make_shared<DetectionResult>();
    detection.deadline = MonotonicClock::now() + std::chrono::duration_cast<MonotonicClock::duration>(
                                                     std::chrono::duration<double>(providerTimeout_));
    if (!worker) {
        // Only the caller that owns this provider's scan gets here, so no
        // other caller starts a second worker for it meanwhile.
        auto started = std::make_shared<Worker>();
        try {
            std::thread thread(&AgentStatusService::runWorker, started, std::weak_ptr<Shared>(shared_));
            pthread_setname_np(thread.native_handle(), "bl.detection");
            thread.detach();
        } catch (const std::system_error&) {
            // No thread could be started: nothing runs for this provider, so
            // it is not busy, and the waiting caller treats it as late. The
            // next scan tries again.
            {
                std::lock_guard relock(shared_->lock);
                shared_->providerStates[name].isDetecting = false;
            }
            detection.result->signal();
            return detection;
        }
        std::lock_guard relock(shared_->lock);
        shared_->providerStates[name].worker = started;
        worker = std::move(started);
    }
    worker->post(Job{provider, refreshTime, name, detection.result, startedAt});
    return detection;
}

void AgentStatusService::runWorker(const std::shared_ptr<Worker>& worker, const std::weak_ptr<Shared>& service) {
    while (std::optional<Job> job = worker->next()) {
        finishDetection(job->provider, job->refreshTime, service, job->name, job->result, job->startedAt);
        // The job, and with it the provider, is let go before the next wait.
    }
}

void AgentStatusService::finishDetection(const std::shared_ptr<AgentStatusProvider>& provider, Date refreshTime,
                                         const std::weak_ptr<Shared>& service, const std::string& name,
                                         const std::shared_ptr<DetectionResult>& result, double startedAt) {
    ProviderSnapshot snapshot;
    try {
        snapshot = provider->snapshot(refreshTime);
    } catch (const std::exception& error) {
        snapshot = ProviderSnapshot::make(name, std::nullopt, std::nullopt, {}, 0, refreshTime,
                                          {name + " detection failed: " + error.what()});
        snapshot.readNothing = true;
    } catch (...) {
        snapshot =
            ProviderSnapshot::make(name, std::nullopt, std::nullopt, {}, 0, refreshTime, {name + " detection failed."});
        snapshot.readNothing = true;
    }

    if (auto shared = service.lock()) {
        // The last answer only ever stands in for a late or busy scan, which
        // reports no sessions and takes from it only its name, its count of
        // ignored sessions and its errors. Those rarely change, so the kept
        // copy is replaced only when they do.
        std::shared_ptr<const ProviderSnapshot> last;
        {
            std::lock_guard guard(shared->lock);
            last = shared->providerStates[name].lastSnapshot;
        }
        if (!last || last->providerName != snapshot.providerName ||
            last->ignoredStaleSessions != snapshot.ignoredStaleSessions || last->errors != snapshot.errors) {
            auto kept = std::make_shared<ProviderSnapshot>();
            kept->providerName = snapshot.providerName;
            kept->ignoredStaleSessions = snapshot.ignoredStaleSessions;
            kept->errors = snapshot.errors;
            last = std::move(kept);
        }
        std::lock_guard guard(shared->lock);
        ProviderState& state = shared->providerStates[name];
        state.lastSnapshot = std::move(last);
        state.isDetecting = false;
    }

    std::string& line = lineBuffer();
    line.append("provider.finished name=").append(name).append(" state=").append(toString(snapshot.state));
    line.append(" active=");
    appendNumber(line, static_cast<int64_t>(snapshot.activeSessions.size()));
    line.append(" elapsedMs=");
    const size_t elapsedAt = line.size();
    line.append(" evidence=");
    if (snapshot.statusEvidence) line.append(*snapshot.statusEvidence);
    result->store(std::move(snapshot));

    const int64_t elapsedMs = wholeMilliseconds(monotonicSeconds() - startedAt);
    if (auto shared = service.lock()) {
        char digits[24];
        const int length = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(elapsedMs));
        line.insert(elapsedAt, digits, static_cast<size_t>(length));
        shared->logger.debug(line);
    }
    result->signal();
}

ProviderSnapshot AgentStatusService::awaitDetection(Detection& detection, Date refreshTime) {
    if (auto snapshot = detection.result->wait(detection.deadline)) return std::move(*snapshot);

    const std::string& name = detection.providerName;
    std::shared_ptr<const ProviderSnapshot> last;
    {
        std::lock_guard guard(shared_->lock);
        if (auto found = shared_->providerStates.find(name); found != shared_->providerStates.end())
            last = found->second.lastSnapshot;
    }
    shared_->logger.error("provider.timeout provider=" + name + " elapsedMs=" +
                          std::to_string(wholeMilliseconds(providerTimeout_)) + " stateChanged=false healthOnly=true");
    const std::string message =
        name + " detection timed out after " + formatSeconds(providerTimeout_) + "; showing last known state.";
    ProviderSnapshot substitute = substituteSnapshot(last.get(), name, message, refreshTime);
    substitute.timedOut = true;
    return substitute;
}

std::string AgentStatusService::formatSeconds(double seconds) {
    if (std::isfinite(seconds) && seconds == std::trunc(seconds) && std::fabs(seconds) < 9e15)
        return std::to_string(static_cast<long long>(seconds)) + "s";
    return DecimalText::fixed(seconds, 2) + "s";
}

ProviderSnapshot AgentStatusService::substituteSnapshot(const ProviderSnapshot* lastSnapshot,
                                                        const std::string& providerName, const std::string& message,
                                                        Date refreshTime) {
    std::vector<std::string> errors;
    if (lastSnapshot) errors = lastSnapshot->errors;
    errors.push_back(message);
    ProviderSnapshot substitute = ProviderSnapshot::make(
        lastSnapshot ? lastSnapshot->providerName : providerName, AgentRunState::unknown, message, {},
        lastSnapshot ? lastSnapshot->ignoredStaleSessions : 0, refreshTime, std::move(errors));
    substitute.readNothing = true;
    return substitute;
}

} // namespace brindleaf
