#include "platform/Logger.hpp"

#include "platform/JournalLogSink.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace brindleaf {

namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<LogSink>& currentSink() {
    static std::shared_ptr<LogSink> sink = std::make_shared<JournalLogSink>();
    return sink;
}

// True while the installed sink is the journal: lines then go straight to it,
// without a record of copied strings or a reference to the sink.
std::atomic<bool> journalInstalled{true};

std::atomic<bool> debugSwitch{false};

bool debugByEnvironment() {
    static const bool on = Logger::debugFromEnvironment(std::getenv("BRINDLEAF_DEBUG"));
    return on;
}

} // namespace

Logger::Logger(std::string category) : category_(std::move(category)) {}

void Logger::write(LogLevel level, std::string_view message) const {
    if (journalInstalled.load(std::memory_order_acquire)) {
        JournalLogSink::send(subsystem, category_, level, message);
        return;
    }
    auto target = sink();
    if (!target) return;
    target->write(LogRecord{std::string(subsystem), category_, level, std::string(message)});
}

bool Logger::debugFromEnvironment(const char* value) { return value && std::strcmp(value, "1") == 0; }

bool Logger::isDebugEnabled() { return debugSwitch.load(std::memory_order_relaxed) || debugByEnvironment(); }

void Logger::setDebugEnabled(bool enabled) { debugSwitch.store(enabled, std::memory_order_relaxed); }

void Logger::setSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex());
    currentSink() = sink ? std::move(sink) : std::make_shared<JournalLogSink>();
    journalInstalled.store(dynamic_cast<const JournalLogSink*>(currentSink().get()) != nullptr,
                           std::memory_order_release);
}

std::shared_ptr<LogSink> Logger::sink() {
    std::lock_guard lock(sinkMutex());
    return currentSink();
}

} // namespace brindleaf
