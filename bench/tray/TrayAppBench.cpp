// brindleaf-tray-bench: what the running tray application costs on the typical
// home. Runs inside an X server (tools/with-xvfb.sh; `make bench-tray`):
//   idle:    the real program on a home whose sessions all ended weeks ago;
//            CPU share of one core over 2 minutes, resident memory every
//            minute (to minute 10 with --long).
//   working: the real program on a fresh home with its processes running and
//            a Claude Code transcript written to every 3 s (the icon animates);
//            CPU share over 2 minutes, resident memory every minute (to
//            minute 10 with --long).
//   trays:   the working run once over XEmbed (trayer) and once over
//            StatusNotifierItem (lxqt-panel), side by side, at each
//            QT_SCALE_FACTOR of --scales (1 and 2): CPU of the application,
//            the host, the session bus daemon and the X server, and the
//            session bus traffic.
//   latency: in this process, the tray application's composition on the
//            offscreen platform: from appending a line to a shown session's
//            transcript to "render.applied", p50 and p95.
//   watch:   `brindleaf --watch` at rest beside the tray application at rest,
//            one after the other on the same home, each alone: the idle home
//            (no session shown) and the typical home dated now with its
//            processes running and nothing written (sessions shown, nothing
//            changing); CPU share of one core of each over the same window.
#include "app/FileWatchTargets.hpp"
#include "bench/ClaudeBenchTranscripts.hpp"
#include "bench/generator/LiveProcessSet.hpp"
#include "bench/tray/ProcessUsage.hpp"
#include "bench/tray/TrayAppRig.hpp"
#include "bench/tray/TrayDesktopCost.hpp"
#include "bench/tray/TrayLatencyRun.hpp"
#include "platform/DecimalText.hpp"
#include "tests/support/ProgramRun.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>

using namespace brindleaf;
using namespace brindleaf::bench;

namespace {

struct Arguments {
    std::string program;
    std::filesystem::path work;
    std::set<std::string> runs = {"idle", "working", "trays", "latency", "watch"};
    bool longRun = false;        // both runs last 10 minutes
    double measureSeconds = 120; // the CPU window
    int appends = 40;
    int minutes = 0;                  // 0: 2, or 10 with --long
    double writeSeconds = 3;          // spacing of the working run's transcript writes; 0: none
    std::vector<int> scales = {1, 2}; // the trays run's QT_SCALE_FACTOR values
};

double monotonicNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void sleepUntil(double when) {
    while (monotonicNow() < when) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const double deadline = monotonicNow() + seconds;
    while (monotonicNow() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

double mib(long kib) { return double(kib) / 1024.0; }

// The figures print alike in every locale (the latency run's QApplication
// takes the C library's locale from the environment: a German one prints
// "0,12" with printf).
std::string fixed(double value, int fractionDigits) { return DecimalText::fixed(value, fractionDigits); }
// With a sign also when positive, as "%+.Nf".
std::string signedFixed(double value, int fractionDigits) {
    std::string text = std::signbit(value) ? "" : "+";
    text += fixed(value, fractionDigits);
    return text;
}

// The first line of `brindleaf --dump-status` that names the overall state.
std::string statusHeadline(TrayAppRig& rig, const std::string& program) {
    const std::string text = rig.run(program, {"--dump-status"}, "dump-status");
    std::string first = text.substr(0, text.find('\n'));
    return first.size() > 160 ? first.substr(0, 160) : first;
}

// Appends a user prompt to the transcript every few seconds: its session
// stays working.
class TranscriptWriter {
public:
    TranscriptWriter(std::string transcript, double spacingSeconds) : transcript_(std::move(transcript)) {
        const int ticks = std::max(1, int(spacingSeconds * 10));
        thread_ = std::thread([this, ticks] {
            for (int i = 0; !stop_; ++i) {
                std::ofstream(transcript_, std::ios::app)
                    << R"({"type":"user","message":{"role":"user","content":"keep going )" << i << R"("},"timestamp":")"
                    << claudebench::isoTime(currentDate()) << "\"}\n";
                for (int tick = 0; tick < ticks && !stop_; ++tick)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    ~TranscriptWriter() {
        stop_ = true;
        thread_.join();
    }

private:
    std::string transcript_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct ProcessRun {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::vector<std::pair<int, ProcessUsage::Resident>> residentByMinute;
    std::vector<ProcessUsage::ThreadTime> threads;
    bool iconShown = false;
    bool exited = false;
};

// Starts the program, measures CPU over [settle, settle + measureSeconds] and
// resident memory every minute until `minutes`.
ProcessRun measureProgram(TrayAppRig& rig, const std::string& program, double measureSeconds, int minutes) {
    ProcessRun run;
    const double settle = 15;
    const double startedAt = monotonicNow();
    const pid_t pid = rig.start(program, {}, "brindleaf");
    run.iconShown = waitFor(
        [] {
            return testing::shellOutput("xwininfo -root -tree").find("(\"brindleaf\" \"brindleaf\")") !=
                   std::string::npos;
        },
        settle);
    sleepUntil(startedAt + settle);
    const auto threadsBefore = ProcessUsage::threadTimes(pid);
    const auto cpuBefore = ProcessUsage::cpuSeconds(pid);
    const double measureFrom = monotonicNow();
    double measureEnd = measureFrom + measureSeconds;
    bool measured = false;
    const int lastMinute = std::max(minutes, int(std::ceil((settle + measureSeconds) / 60)));
    for (int minute = 1; minute <= lastMinute; ++minute) {
        const double at = startedAt + 60.0 * minute;
        if (!measured && measureEnd <= at) {
            sleepUntil(measureEnd);
            const auto cpuAfter = ProcessUsage::cpuSeconds(pid);
            run.wallSeconds = monotonicNow() - measureFrom;
            if (cpuBefore && cpuAfter) run.cpuSeconds = *cpuAfter - *cpuBefore;
            run.threads = ProcessUsage::threadDeltas(threadsBefore, ProcessUsage::threadTimes(pid));
            measured = true;
        }
        sleepUntil(at);
        if (auto rss = ProcessUsage::resident(pid)) {
            run.residentByMinute.emplace_back(minute, *rss);
            std::fprintf(stderr, "  minute %d: %s MiB (anonymous %s MiB)\n", minute, fixed(mib(rss->total), 2).c_str(),
                         fixed(mib(rss->anonymous), 2).c_str());
        }
    }
    if (!measured) {
        sleepUntil(measureEnd);
        const auto cpuAfter = ProcessUsage::cpuSeconds(pid);
        run.wallSeconds = monotonicNow() - measureFrom;
        if (cpuBefore && cpuAfter) run.cpuSeconds = *cpuAfter - *cpuBefore;
        run.threads = ProcessUsage::threadDeltas(threadsBefore, ProcessUsage::threadTimes(pid));
    }
    int status = 0;
    run.exited = ::waitpid(pid, &status, WNOHANG) != 0;
    rig.stop(pid);
    return run;
}

void printProcessRun(const std::string& name, const ProcessRun& run, double targetPercent) {
    const double percent = run.wallSeconds > 0 ? run.cpuSeconds / run.wallSeconds * 100 : 0;
    std::printf("%s: CPU %s ms over %s s = %s %% of one core (target <= %s %%: %s)%s%s\n", name.c_str(),
                fixed(run.cpuSeconds * 1000, 0).c_str(), fixed(run.wallSeconds, 0).c_str(), fixed(percent, 3).c_str(),
                fixed(targetPercent, 1).c_str(), percent <= targetPercent ? "met" : "MISSED",
                run.iconShown ? "" : " [tray icon not seen]", run.exited ? " [program exited early]" : "");
    std::printf("%s: resident memory by minute (MiB, anonymous in brackets):", name.c_str());
    for (const auto& [minute, rss] : run.residentByMinute)
        std::printf(" %d:%s (%s)", minute, fixed(mib(rss.total), 2).c_str(), fixed(mib(rss.anonymous), 2).c_str());
    std::printf("\n");
    std::optional<ProcessUsage::Resident> at2;
    ProcessUsage::Resident last;
    int lastMinute = 0;
    for (const auto& [minute, rss] : run.residentByMinute) {
        if (minute == 2) at2 = rss;
        last = rss;
        lastMinute = minute;
    }
    if (at2 && lastMinute > 2)
        std::printf("%s: resident memory minute 2 -> %d: %s -> %s MiB (%s MiB, anonymous %s MiB); "
                    "%s MB of <= 80 MB\n",
                    name.c_str(), lastMinute, fixed(mib(at2->total), 2).c_str(), fixed(mib(last.total), 2).c_str(),
                    signedFixed(mib(last.total - at2->total), 2).c_str(),
                    signedFixed(mib(last.anonymous - at2->anonymous), 2).c_str(),
                    fixed(double(last.total) * 1024 / 1e6, 1).c_str());
    std::printf("%s: CPU by thread:", name.c_str());
    int shown = 0;
    for (const auto& thread : run.threads) {
        if (shown++ == 8 || thread.cpuSeconds <= 0) break;
        std::printf(" %s[%d] %s ms;", thread.name.c_str(), thread.tid, fixed(thread.cpuSeconds * 1000, 0).c_str());
    }
    std::printf("\n");
    std::fflush(stdout);
}

// The program with `arguments` (the tray application without), after 15 s of
// settling: CPU over `measureSeconds`, by thread too.
ProcessRun measureAtRest(TrayAppRig& rig, const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& name, double measureSeconds) {
    ProcessRun run;
    const pid_t pid = rig.start(program, arguments, name);
    std::this_thread::sleep_for(std::chrono::seconds(15));
    const auto threadsBefore = ProcessUsage::threadTimes(pid);
    const auto cpuBefore = ProcessUsage::cpuSeconds(pid);
    const double from = monotonicNow();
    sleepUntil(from + measureSeconds);
    const auto cpuAfter = ProcessUsage::cpuSeconds(pid);
    run.wallSeconds = monotonicNow() - from;
    if (cpuBefore && cpuAfter) run.cpuSeconds = *cpuAfter - *cpuBefore;
    run.threads = ProcessUsage::threadDeltas(threadsBefore, ProcessUsage::threadTimes(pid));
    if (auto rss = ProcessUsage::resident(pid)) run.residentByMinute.emplace_back(0, *rss);
    int status = 0;
    run.exited = ::waitpid(pid, &status, WNOHANG) != 0;
    rig.stop(pid);
    return run;
}

// The status line's CPU at rest against the tray application's on one home.
void compareAtRest(TrayAppRig& rig, const std::string& program, const std::string& name, double measureSeconds) {
    std::printf("watch/%s: %s\n", name.c_str(), statusHeadline(rig, program).c_str());
    std::fflush(stdout);
    const auto tray = measureAtRest(rig, program, {}, "tray-" + name, measureSeconds);
    const auto watch = measureAtRest(rig, program, {"--watch"}, "watch-" + name, measureSeconds);
    const auto percent = [](const ProcessRun& run) {
        return run.wallSeconds > 0 ? run.cpuSeconds / run.wallSeconds * 100 : 0;
    };
    for (const auto* run : {&tray, &watch}) {
        std::printf(
            "watch/%s: %s: CPU %s ms over %s s = %s %% of one core; resident %s MiB%s; by thread:", name.c_str(),
            run == &tray ? "tray application" : "brindleaf --watch", fixed(run->cpuSeconds * 1000, 0).c_str(),
            fixed(run->wallSeconds, 0).c_str(), fixed(percent(*run), 3).c_str(),
            run->residentByMinute.empty() ? "?" : fixed(mib(run->residentByMinute.front().second.total), 1).c_str(),
            run->exited ? " [program exited early]" : "");
        int shown = 0;
        for (const auto& thread : run->threads) {
            if (shown++ == 6 || thread.cpuSeconds <= 0) break;
            std::printf(" %s %s ms;", thread.name.c_str(), fixed(thread.cpuSeconds * 1000, 0).c_str());
        }
        std::printf("\n");
    }
    std::printf("watch/%s: --watch at rest %s %% <= tray application %s %%: %s\n", name.c_str(),
                fixed(percent(watch), 3).c_str(), fixed(percent(tray), 3).c_str(),
                percent(watch) <= percent(tray) && !watch.exited ? "met" : "MISSED");
    std::ifstream log(rig.root() / ("watch-" + name + ".log"));
    std::size_t lines = 0;
    for (std::string line; std::getline(log, line);) ++lines;
    std::printf("watch/%s: lines --watch printed (its output and standard error): %zu\n", name.c_str(), lines);
    std::fflush(stdout);
}

std::optional<std::string> newestTranscript(const GeneratedHome& home) {
    auto transcripts =
        FileWatchTargets::recentClaudeTranscriptFiles((home.claudeHome() / "projects").string(), currentDate());
    if (transcripts.empty()) return std::nullopt;
    return transcripts.front();
}

// The typical home dated now, its agents' processes running and, unless
// `writeSeconds` is 0, a prompt appended to its newest transcript every
// `writeSeconds`: its sessions show as working.
struct WorkingHome {
    WorkingHome(const TrayAppRig& rig, double writeSeconds)
        : home(rig.writeTypicalHome(currentDate())), processes(home) {
        auto transcript = newestTranscript(home);
        if (transcript && writeSeconds > 0) writer.emplace(*transcript, writeSeconds);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    GeneratedHome home;
    LiveProcessSet processes;
    std::optional<TranscriptWriter> writer;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(std::ceil(p * double(values.size())));
    return values[std::min(index == 0 ? 0 : index - 1, values.size() - 1)];
}

int usage() {
    std::fprintf(stderr,
                 "usage: brindleaf-tray-bench --brindleaf=PATH [--work=DIR] [--runs=idle,working,trays,latency,watch] "
                 "[--long] [--minutes=N] [--write-seconds=S] [--measure-seconds=N] [--appends=N] "
                 "[--scales=1,2]\n");
    return 2;
}

// "a,b,c" as its parts.
std::vector<std::string> commaList(const std::string& list) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= list.size();) {
        auto comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        parts.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return parts;
}

std::optional<Arguments> parse(int argc, char** argv) {
    Arguments arguments;
    arguments.work = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tray-bench";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const std::string& name) -> std::optional<std::string> {
            if (arg.starts_with(name + "=")) return arg.substr(name.size() + 1);
            return std::nullopt;
        };
        if (auto v = value("--brindleaf")) {
            arguments.program = std::filesystem::absolute(*v).string();
        } else if (auto v = value("--work")) {
            arguments.work = std::filesystem::absolute(*v);
        } else if (auto v = value("--runs")) {
            arguments.runs.clear();
            for (const auto& run : commaList(*v)) arguments.runs.insert(run);
        } else if (auto v = value("--scales")) {
            arguments.scales.clear();
            for (const auto& scale : commaList(*v)) {
                const int factor = std::atoi(scale.c_str());
                if (factor < 1 || factor > 4) return std::nullopt;
                arguments.scales.push_back(factor);
            }
        } else if (arg == "--long") {
            arguments.longRun = true;
        } else if (auto v = value("--measure-seconds")) {
            arguments.measureSeconds = std::max(5.0, std::atof(v->c_str()));
        } else if (auto v = value("--minutes")) {
            arguments.minutes = std::max(2, std::atoi(v->c_str()));
        } else if (auto v = value("--write-seconds")) {
            arguments.writeSeconds = std::max(0.0, std::atof(v->c_str()));
        } else if (auto v = value("--appends")) {
            arguments.appends = std::max(1, std::atoi(v->c_str()));
        } else {
            return std::nullopt;
        }
    }
    if (arguments.program.empty() && (arguments.runs.count("idle") || arguments.runs.count("working") ||
                                      arguments.runs.count("trays") || arguments.runs.count("watch")))
        return std::nullopt;
    return arguments;
}

} // namespace

int main(int argc, char** argv) {
    auto parsed = parse(argc, argv);
    if (!parsed) return usage();
    const Arguments& arguments = *parsed;
    std::filesystem::create_directories(arguments.work);
    const int runMinutes = arguments.minutes ? arguments.minutes : arguments.longRun ? 10 : 2;
    std::printf("brindleaf-tray-bench: %s", testing::shellOutput("uptime").c_str());
    std::fflush(stdout);

    if (arguments.runs.count("idle") || arguments.runs.count("working") || arguments.runs.count("watch")) {
        if (!std::getenv("DISPLAY")) {
            std::fprintf(stderr, "brindleaf-tray-bench: no DISPLAY; run it inside tools/with-xvfb.sh\n");
            return 1;
        }
        const pid_t trayer = startProcess(
            "/usr/bin/trayer",
            {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height", "26"}, nullptr,
            arguments.work / "trayer.log");
        if (!waitFor(
                [] { return testing::shellOutput("xwininfo -root -tree").find("\"trayer\"") != std::string::npos; },
                20))
            std::fprintf(stderr, "brindleaf-tray-bench: the tray host did not appear\n");

        if (arguments.runs.count("idle")) {
            TrayAppRig rig(arguments.work / "idle");
            // Every date four weeks back: no session is active.
            rig.writeTypicalHome(currentDate() - 28 * 86400.0);
            std::printf("idle: %s\n", statusHeadline(rig, arguments.program).c_str());
            std::fflush(stdout);
            printProcessRun("idle", measureProgram(rig, arguments.program, arguments.measureSeconds, runMinutes), 0.2);
        }
        if (arguments.runs.count("working")) {
            TrayAppRig rig(arguments.work / "working");
            WorkingHome working(rig, arguments.writeSeconds);
            std::printf("working: %s\n", statusHeadline(rig, arguments.program).c_str());
            std::fflush(stdout);
            auto run = measureProgram(rig, arguments.program, arguments.measureSeconds, runMinutes);
            std::printf("working (at the end): %s\n", statusHeadline(rig, arguments.program).c_str());
            printProcessRun("working", run, 2.0);
        }
        if (arguments.runs.count("watch")) {
            {
                TrayAppRig rig(arguments.work / "watch-idle");
                rig.writeTypicalHome(currentDate() - 28 * 86400.0);
                compareAtRest(rig, arguments.program, "idle", arguments.measureSeconds);
            }
            TrayAppRig rig(arguments.work / "watch-shown");
            WorkingHome shown(rig, 0);
            compareAtRest(rig, arguments.program, "shown", arguments.measureSeconds);
        }
        stopProcess(trayer);
    }

    if (arguments.runs.count("trays")) {
        if (!std::getenv("DISPLAY")) {
            std::fprintf(stderr, "brindleaf-tray-bench: no DISPLAY; run it inside tools/with-xvfb.sh\n");
            return 1;
        }
        TrayAppRig rig(arguments.work / "trays");
        WorkingHome working(rig, arguments.writeSeconds);
        std::printf("trays: %s\n", statusHeadline(rig, arguments.program).c_str());
        std::vector<TrayDesktopCost> costs;
        for (int scale : arguments.scales)
            for (TrayKind kind : {TrayKind::xembed, TrayKind::statusNotifier})
                costs.push_back(measureTrayDesktop(rig, arguments.program, kind, scale, 15, arguments.measureSeconds));
        std::printf("trays (at the end): %s\n", statusHeadline(rig, arguments.program).c_str());
        std::printf("| tray | scale | app | host | bus daemon | desktop (app + host + bus) | X server | bus traffic | "
                    "messages/s | target |\n|---|---|---|---|---|---|---|---|---|---|\n");
        for (const auto& cost : costs) {
            const auto percent = [&](double cpu) { return cost.seconds > 0 ? cpu / cost.seconds * 100 : 0; };
            const double desktop = percent(cost.app + cost.host + cost.bus);
            const double kbPerSecond = cost.seconds > 0 ? cost.busBytes / cost.seconds / 1000 : 0;
            const bool sni = cost.tray.rfind("Status", 0) == 0;
            std::printf(
                "| %s | %dx | %s %% | %s %% | %s %% | %s %% | %s %% | %s KB/s | %s | %s |%s%s\n", cost.tray.c_str(),
                cost.scale, fixed(percent(cost.app), 2).c_str(), fixed(percent(cost.host), 2).c_str(),
                fixed(percent(cost.bus), 2).c_str(), fixed(desktop, 2).c_str(), fixed(percent(cost.xServer), 2).c_str(),
                fixed(kbPerSecond, 2).c_str(), fixed(cost.seconds > 0 ? cost.busMessages / cost.seconds : 0, 1).c_str(),
                !sni                                ? ""
                : desktop <= 2 && kbPerSecond <= 10 ? "<= 2 %, <= 10 KB/s: met"
                                                    : "MISSED",
                cost.iconSeen ? "" : " [icon not seen]", cost.exited ? " [program exited early]" : "");
        }
        std::printf("trays: over %s s each, after 15 s of settling; CPU as a share of one core\n",
                    fixed(costs.empty() ? 0 : costs.front().seconds, 0).c_str());
        std::fflush(stdout);
    }

    if (arguments.runs.count("latency")) {
        TrayAppRig rig(arguments.work / "latency");
        const GeneratedHome home = rig.writeTypicalHome(currentDate());
        LiveProcessSet processes(home);
        auto transcript = newestTranscript(home);
        if (!transcript) {
            std::fprintf(stderr, "brindleaf-tray-bench: no recent transcript in the home\n");
            return 1;
        }
        // Whatever the shell writes goes below the rig.
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            ::setenv(name, rig.environment().at(name).c_str(), 1);
        TrayLatencyRun latency;
        latency.home = home.root.string();
        latency.environment = rig.environment();
        latency.environment.erase("LD_PRELOAD");
        latency.transcript = *transcript;
        latency.appends = arguments.appends;
        const auto result = latency.run();
        const double p50 = percentile(result.changeRendered, 0.5), p95 = percentile(result.changeRendered, 0.95);
        std::printf("latency: %zu of %d appends rendered; routes:", result.changeRendered.size(), arguments.appends);
        for (const auto& [route, count] : result.routes) std::printf(" %s %d", route.c_str(), count);
        std::printf("; last render: %s\n", result.lastRenderLine.c_str());
        std::printf("latency: append -> render.applied of a refresh started after the change: p50 %s ms, p95 %s "
                    "ms, max %s ms (target p50 <= 500, p95 <= 800: %s)\n",
                    fixed(p50 * 1000, 0).c_str(), fixed(p95 * 1000, 0).c_str(),
                    fixed(percentile(result.changeRendered, 1.0) * 1000, 0).c_str(),
                    p50 <= 0.5 && p95 <= 0.8 && result.missed == 0 ? "met" : "MISSED");
        std::printf("latency: append -> next render.applied: p50 %s ms, p95 %s ms, max %s ms\n",
                    fixed(percentile(result.nextRender, 0.5) * 1000, 0).c_str(),
                    fixed(percentile(result.nextRender, 0.95) * 1000, 0).c_str(),
                    fixed(percentile(result.nextRender, 1.0) * 1000, 0).c_str());
    }
    std::printf("brindleaf-tray-bench: done; %s", testing::shellOutput("uptime").c_str());
    return 0;
}
