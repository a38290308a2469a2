#include "app/BrindleafBarApp.hpp"

#include "app/CodexRuntimeWatchConfiguration.hpp"
#include "app/CompositionRoot.hpp"
#include "app/HeadlessCloudModes.hpp"
#include "app/HeadlessStatusCheck.hpp"
#include "app/StatusWatch.hpp"
#include "core/UserHomeDirectory.hpp"
#include "platform/DecimalText.hpp"
#include "platform/Logger.hpp"
#include "platform/UserDefaults.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace brindleaf::BrindleafBarApp {

namespace {

constexpr std::pair<std::string_view, HeadlessMode> modeOrder[] = {
    {selfTestSettingsMigrationFlag, HeadlessMode::selfTestSettingsMigration},
    {dumpStatusFlag, HeadlessMode::dumpStatus},
    {dumpStatusJSONFlag, HeadlessMode::dumpStatusJSON},
    {syncStatusNowFlag, HeadlessMode::syncStatusNow},
    {fetchCloudStatusJSONFlag, HeadlessMode::fetchCloudStatusJSON},
};

// A random (version 4) UUID in upper-case text form.
std::string randomUUIDString() {
    std::random_device device;
    std::uint8_t bytes[16];
    for (std::size_t i = 0; i < sizeof bytes; i += 4) {
        const std::uint32_t word = device();
        for (std::size_t j = 0; j < 4; ++j) bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string joinPresent(const std::optional<std::string>& first, const std::optional<std::string>& second) {
    if (first && second) return *first + "/" + *second;
    if (first) return *first;
    if (second) return *second;
    return {};
}

// Writes the text, flushes and ends the process without running exit-time
// work (scans past their deadline may still be running on worker threads).
[[noreturn]] void finish(const std::string& text, int status) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

AgentStatusSnapshot currentSnapshot(AgentStatusService& service) {
    return service.snapshot(currentDate(), CompositionRoot::enabledStatusProviders());
}

std::unique_ptr<AgentStatusService> makeCommandLineService() {
    CodexRuntimeWatchConfiguration configuration(CompositionRoot::processEnvironment(), UserHomeDirectory::path());
    return CompositionRoot::makeStatusService(configuration.codexHome, configuration.sqliteHome, true,
                                              CompositionRoot::providerTimeout);
}

} // namespace

std::optional<HeadlessMode> headlessMode(const std::vector<std::string>& arguments) {
    for (const auto& [flag, mode] : modeOrder) {
        if (std::find(arguments.begin(), arguments.end(), flag) != arguments.end()) return mode;
    }
    if (std::any_of(arguments.begin(), arguments.end(), isWatchArgument)) return HeadlessMode::watch;
    return std::nullopt;
}

bool isWatchArgument(std::string_view argument) {
    if (!argument.starts_with(watchFlag)) return false;
    argument.remove_prefix(watchFlag.size());
    return argument.empty() || argument.front() == '=';
}

std::optional<StatusLine::Format> watchFormat(const std::vector<std::string>& arguments) {
    const auto first = std::find_if(arguments.begin(), arguments.end(), isWatchArgument);
    if (first == arguments.end()) return std::nullopt;
    if (*first == watchFlag) return StatusLine::Format::json;
    return StatusLine::formatNamed(std::string_view(*first).substr(watchFlag.size() + 1));
}

std::string selfTestSettingsMigration() {
    auto suite = UserDefaults::open("local.brindleaf.selftest." + randomUUIDString());
    if (!suite) return "failed";
    suite->set("enabledProviderIDs", DefaultsValue::strings({"codex"}));
    std::string line;
    {
        ProviderSettingsStore settings(suite);
        // A std::set is already in ascending order.
        for (const auto& id : settings.enabledProviderIDs()) {
            if (!line.empty()) line += ',';
            line += id;
        }
    }
    suite->removePersistentDomain();
    return line;
}

std::string formatCPUPercent(double value) {
    if (std::fabs(value) >= 0.1) return DecimalText::fixed(value, 1) + "%";
    return DecimalText::fixed(value * 10, 3) + "\u2030";
}

std::string formatByteCount(std::int64_t bytes) {
    constexpr std::int64_t kibibyte = 1024;
    constexpr std::int64_t mebibyte = 1024 * 1024;
    if (bytes < kibibyte) return std::to_string(bytes) + "B";
    if (bytes < mebibyte) return DecimalText::fixed(static_cast<double>(bytes) / kibibyte, 0) + "KB";
    const double megabytes = static_cast<double>(bytes) / mebibyte;
    if (megabytes < 1024.0) return DecimalText::fixed(megabytes, 0) + "MB";
    return DecimalText::fixed(megabytes / 1024.0, 1) + "GB";
}

std::string processSummary(const std::optional<SessionResourceUsage>& usage) {
    if (!usage) return {};
    std::string text = "pid=" + std::to_string(usage->pid);
    if (usage->cpuPercent) text += " cpu=" + formatCPUPercent(*usage->cpuPercent);
    if (usage->residentMemoryBytes) text += " mem=" + formatByteCount(*usage->residentMemoryBytes);
    if (usage->processCount >= 2) text += " procs=" + std::to_string(usage->processCount);
    return text;
}

std::string sessionLine(const AgentSession& session) {
    const auto& profile = session.runtimeProfile;
    const std::string fields[] = {
        session.provider,
        session.id,
        session.threadSource.value_or(""),
        joinPresent(session.agentNickname, session.agentRole),
        session.title,
        session.cwd,
        joinPresent(session.parentAgentNickname ? session.parentAgentNickname : session.parentTitle,
                    session.parentAgentRole),
        profile ? profile->model.value_or("") : "",
        profile ? profile->reasoningEffort.value_or("") : "",
        session.evidence,
        processSummary(session.resourceUsage),
    };
    std::string line;
    for (const auto& field : fields) {
        if (&field != &fields[0]) line += '\t';
        line += field;
    }
    return line;
}

std::string statusDump(const AgentStatusSnapshot& snapshot) {
    std::string text(toString(snapshot.state));
    text += "\nactive=" + std::to_string(snapshot.activeSessions.size()) + "\n";
    for (const auto& session : snapshot.activeSessions) text += sessionLine(session) + "\n";
    return text;
}

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    auto mode = headlessMode(arguments);
    if (!mode) {
        // The executable hands launches without a headless mode to the tray
        // shell (app/shell) before calling this; the Qt-free library has no tray.
        Logger("App").error("app.launch.unavailable reason=no-tray-interface");
        std::fputs("brindleaf: the tray application is not available in this build; run with --dump-status\n", stderr);
        finish({}, 1);
    }
    switch (*mode) {
    case HeadlessMode::selfTestSettingsMigration:
        finish(selfTestSettingsMigration() + "\n", 0);
    case HeadlessMode::dumpStatus: {
        auto service = makeCommandLineService();
        auto snapshot = currentSnapshot(*service);
        const std::string notes = HeadlessStatusCheck::markIncomplete(snapshot);
        std::fputs(notes.c_str(), stderr);
        finish(statusDump(snapshot), 0);
    }
    case HeadlessMode::dumpStatusJSON: {
        auto service = makeCommandLineService();
        finish({}, HeadlessCloudModes::dumpStatusJSON(*service));
    }
    case HeadlessMode::syncStatusNow: {
        auto service = makeCommandLineService();
        finish({}, HeadlessCloudModes::syncStatusNow(*service));
    }
    case HeadlessMode::fetchCloudStatusJSON:
        finish({}, HeadlessCloudModes::fetchCloudStatusJSON());
    case HeadlessMode::watch:
        // The command line refuses another value before this runs.
        finish({}, StatusWatch::run(watchFormat(arguments).value_or(StatusLine::Format::json)));
    }
    finish({}, 1);
}

} // namespace brindleaf::BrindleafBarApp
