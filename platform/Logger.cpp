#include "platform/Logger.hpp"

#include "platform/JournalLogSink.hpp"

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

} // namespace

Logger::Logger(std::string category) : category_(std::move(category)) {}

void Logger::write(LogLevel level, std::string_view message) const {
    auto target = sink();
    if (!target) return;
    target->write(LogRecord{std::string(subsystem), category_, level, std::string(message)});
}

void Logger::setSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex());
    currentSink() = sink ? std::move(sink) : std::make_shared<JournalLogSink>();
}

std::shared_ptr<LogSink> Logger::sink() {
    std::lock_guard lock(sinkMutex());
    return currentSink();
}

} // namespace brindleaf
