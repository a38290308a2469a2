// The benchmark program's entry: runs the Google Benchmark suite (its usual
// report goes to standard error), then times whole `brindleaf --dump-status`
// runs on the generated homes, and prints one summary table on standard output.
//
// Own options (everything else goes to Google Benchmark):
//   --fresh-homes        write the typical and heavy homes afresh first
//   --brindleaf=PATH     the program to time (default: app/brindleaf next to this build's bench/)
//   --no-commands        skip the whole-command timings
//   --command-runs=N     runs per whole-command timing (default 5)
//   --repeat=WHAT/SIZE:N only run N warm refreshes of WHAT (Service, Claude,
//                        Codex, Hermes) on that home, for strace/perf/callgrind
#include "bench/RefreshBenchHomes.hpp"
#include "bench/RefreshFloors.hpp"
#include "bench/RefreshRepeat.hpp"
#include "platform/DecimalText.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <map>
#include <pwd.h>
#include <grp.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace brindleaf;
using namespace brindleaf::bench;

namespace {

struct Measured {
    double cpuMs = 0;
    double realMs = 0;
    int64_t iterations = 0;
    bool failed = false;
    std::string error;
};

// Keeps every run while the console reporter prints as usual.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            Measured m;
            double toMs = 1.0;
            switch (run.time_unit) {
            case benchmark::kNanosecond: toMs = 1e-6; break;
            case benchmark::kMicrosecond: toMs = 1e-3; break;
            case benchmark::kMillisecond: toMs = 1.0; break;
            case benchmark::kSecond: toMs = 1e3; break;
            }
            m.cpuMs = run.GetAdjustedCPUTime() * toMs;
            m.realMs = run.GetAdjustedRealTime() * toMs;
            m.iterations = run.iterations;
            m.failed = run.error_occurred;
            m.error = run.error_message;
            // Drop the suffixes the measuring options add ("/process_time", "/real_time").
            std::string name = run.benchmark_name();
            for (const char* suffix : {"/real_time", "/process_time"}) {
                auto at = name.rfind(suffix);
                if (at != std::string::npos && at + std::strlen(suffix) == name.size()) name.erase(at);
            }
            if (!results.count(name)) order.push_back(name);
            results[name] = m;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, Measured> results;
    std::vector<std::string> order;
};

// --- whole commands --------------------------------------------------------

std::string selfPath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

struct CommandRun {
    double wallMs = 0;
    double peakRssMB = 0;
    int status = -1;
};

// Password and group files for nss_wrapper, so the program's home is `home`.
std::pair<std::string, std::string> identityFiles(const std::string& home, const std::string& tag) {
    auto folder = benchHomesDirectory() / "nss";
    std::filesystem::create_directories(folder);
    uid_t uid = getuid();
    gid_t gid = getgid();
    std::string user = "bench";
    if (struct passwd* entry = getpwuid(uid)) user = entry->pw_name;
    std::string group = "bench";
    if (struct group* entry = getgrgid(gid)) group = entry->gr_name;
    std::string passwd = (folder / (tag + ".passwd")).string();
    std::string groups = (folder / (tag + ".group")).string();
    std::ofstream(passwd) << user << ":x:" << uid << ":" << gid << ":Bench:" << home << ":/bin/sh\n";
    std::ofstream(groups) << group << ":x:" << gid << ":\n";
    return {passwd, groups};
}

CommandRun runDumpStatus(const std::string& program, const std::string& home, const std::string& tag) {
    auto [passwd, groups] = identityFiles(home, tag);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        for (const char* drop : {"HOME=", "LD_PRELOAD=", "NSS_WRAPPER_", "CODEX_HOME=", "CODEX_SQLITE_HOME=",
                                 "CODEX_APP_SERVER", "BRINDLEAF_BENCH_HOLD"}) {
            if (entry.rfind(drop, 0) == 0) {
                entry.clear();
                break;
            }
        }
        if (!entry.empty()) environment.push_back(entry);
    }
    environment.push_back("HOME=" + home);
    environment.push_back("LD_PRELOAD=libnss_wrapper.so");
    environment.push_back("NSS_WRAPPER_PASSWD=" + passwd);
    environment.push_back("NSS_WRAPPER_GROUP=" + groups);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    // Started through the small runner (next to this program), which forks the command itself.
    std::string runner = (std::filesystem::path(selfPath()).parent_path() / "brindleaf-bench-run").string();
    std::string programCopy = program;
    std::string flag = "--dump-status";
    char* argv[] = {runner.data(), programCopy.data(), flag.data(), nullptr};

    CommandRun result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return result;
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, 2);
        ::close(pipeFds[0]);
        execve(runner.c_str(), argv, envp.data());
        _exit(127);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) report.append(buffer, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    // The dashboard benchmarks' QApplication has set the user's locale: the
    // runner's decimal point is read as written.
    std::size_t used = 0;
    const auto wallMs = DecimalText::read(report, used);
    long peakKiB = 0;
    int code = -1;
    if (wallMs && std::sscanf(report.c_str() + used, "%ld %d", &peakKiB, &code) == 2) {
        result.wallMs = *wallMs;
        result.peakRssMB = double(peakKiB) / 1024.0;
        result.status = code;
    }
    return result;
}

CommandRun medianOf(const std::string& program, const std::string& home, const std::string& tag, int runs) {
    std::vector<CommandRun> all;
    for (int i = 0; i < runs; ++i) all.push_back(runDumpStatus(program, home, tag));
    auto median = [&](auto field) {
        std::vector<double> values;
        for (const auto& r : all) values.push_back(field(r));
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    CommandRun out;
    out.wallMs = median([](const CommandRun& r) { return r.wallMs; });
    out.peakRssMB = median([](const CommandRun& r) { return r.peakRssMB; });
    out.status = 0;
    for (const auto& r : all) {
        if (r.status != 0) out.status = r.status;
    }
    return out;
}

// --- the table -------------------------------------------------------------

std::string machineLine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown CPU";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            auto colon = line.find(':');
            if (colon != std::string::npos) model = line.substr(colon + 2);
            break;
        }
    }
    return model + ", nproc " + std::to_string(std::thread::hardware_concurrency());
}

std::string fixed(double value, int decimals) { return DecimalText::fixed(value, decimals); }

std::string milliseconds(double ms) {
    if (ms < 0.1) return fixed(ms * 1000.0, 1) + " us";
    if (ms < 10) return fixed(ms, 3) + " ms";
    return fixed(ms, 1) + " ms";
}

struct Row {
    std::string what;
    std::string cost;
    std::string floor;
    std::string ratio;
    std::string target;
    std::string verdict;
};

void printTable(const std::vector<Row>& rows, const std::vector<std::pair<std::string, std::string>>& others) {
    std::size_t widths[5] = {4, 4, 5, 5, 6};
    for (const auto& r : rows) {
        widths[0] = std::max(widths[0], r.what.size());
        widths[1] = std::max(widths[1], r.cost.size());
        widths[2] = std::max(widths[2], r.floor.size());
        widths[3] = std::max(widths[3], r.ratio.size());
        widths[4] = std::max(widths[4], r.target.size());
    }
    auto cell = [](const std::string& text, std::size_t width) {
        return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
    };
    std::printf("Brindleaf benchmarks on %s\n", machineLine().c_str());
    std::printf("| %s | %s | %s | %s | %s | %s |\n", cell("case", widths[0]).c_str(), cell("cost", widths[1]).c_str(),
                cell("floor", widths[2]).c_str(), cell("ratio", widths[3]).c_str(), cell("target", widths[4]).c_str(),
                "ok?");
    std::printf("|%s|%s|%s|%s|%s|-----|\n", std::string(widths[0] + 2, '-').c_str(),
                std::string(widths[1] + 2, '-').c_str(), std::string(widths[2] + 2, '-').c_str(),
                std::string(widths[3] + 2, '-').c_str(), std::string(widths[4] + 2, '-').c_str());
    for (const auto& r : rows) {
        std::printf("| %s | %s | %s | %s | %s | %s |\n", cell(r.what, widths[0]).c_str(), cell(r.cost, widths[1]).c_str(),
                    cell(r.floor, widths[2]).c_str(), cell(r.ratio, widths[3]).c_str(),
                    cell(r.target, widths[4]).c_str(), r.verdict.c_str());
    }
    for (const auto& [name, cost] : others) {
        std::printf("| %s | %s | %s | %s | %s | %s |\n", cell(name, widths[0]).c_str(), cell(cost, widths[1]).c_str(),
                    cell("", widths[2]).c_str(), cell("", widths[3]).c_str(), cell("", widths[4]).c_str(), "");
    }
}

std::string defaultProgram() {
    std::filesystem::path self(selfPath());
    return (self.parent_path().parent_path() / "app" / "brindleaf").string();
}

} // namespace

int main(int argc, char** argv) {
    bool freshHomes = false;
    bool commands = true;
    bool listOnly = false;
    int commandRuns = 5;
    std::string program = defaultProgram();
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--fresh-homes") freshHomes = true;
        else if (arg == "--no-commands") commands = false;
        else if (arg.rfind("--benchmark_list_tests", 0) == 0 && arg != "--benchmark_list_tests=false") {
            commands = false;
            listOnly = true;
            rest.push_back(argv[i]);
        }
        else if (arg.rfind("--brindleaf=", 0) == 0) program = arg.substr(12);
        else if (arg.rfind("--command-runs=", 0) == 0) commandRuns = std::max(1, std::atoi(arg.c_str() + 15));
        else if (arg.rfind("--repeat=", 0) == 0) {
            auto colon = arg.rfind(':');
            if (colon == std::string::npos || colon < 9) return 2;
            int code = repeatWarmRefresh(arg.substr(9, colon - 9), std::max(1, std::atoi(arg.c_str() + colon + 1)));
            if (code == 2) std::fprintf(stderr, "unknown case in %s\n", arg.c_str());
            return code;
        }
        else rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    rest.push_back(nullptr);

    if (freshHomes) {
        for (HomeSize size : {HomeSize::typical, HomeSize::heavy}) {
            double started = monotonicSeconds();
            GeneratedHome home = regenerateBenchHome(size);
            std::fprintf(stderr, "wrote %s home %s: %llu files, %.0f MiB in %.1f s\n", std::string(toString(size)).c_str(),
                         home.root.c_str(), static_cast<unsigned long long>(home.filesWritten),
                         double(home.bytesWritten) / 1048576.0, monotonicSeconds() - started);
        }
    }

    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 1;
    CollectingReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (listOnly) return 0;

    std::vector<Row> rows;
    std::vector<std::pair<std::string, std::string>> others;
    static const std::map<std::string, std::pair<double, std::string>> cpuTargets = {
        {"Refresh/Service/warm/heavy", {5.0, "<= 5 ms, <= 2x floor"}},
        {"Refresh/Service/warm/typical", {1.0, "<= 1 ms"}},
    };
    for (const auto& name : reporter.order) {
        const Measured& m = reporter.results[name];
        if (name.rfind("Floor/", 0) == 0) continue;
        if (name.rfind("Refresh/", 0) != 0) {
            others.emplace_back(name, m.failed ? "error: " + m.error : milliseconds(m.cpuMs));
            continue;
        }
        Row row;
        std::string rest = name.substr(8);  // <what>/<mode>/<size>
        row.what = rest;
        row.cost = m.failed ? "error: " + m.error : milliseconds(m.cpuMs);
        auto floor = reporter.results.find("Floor/" + rest);
        double ratio = 0;
        if (floor != reporter.results.end() && !floor->second.failed && floor->second.cpuMs > 0 && !m.failed) {
            // The floor is mostly system time; compare like with like (CPU time of the calling thread).
            row.floor = milliseconds(floor->second.cpuMs);
            ratio = m.cpuMs / floor->second.cpuMs;
            row.ratio = fixed(ratio, 1) + "x";
        }
        auto target = cpuTargets.find(name);
        if (target != cpuTargets.end()) {
            row.target = target->second.second;
            bool ok = !m.failed && m.cpuMs <= target->second.first;
            if (name.find("/heavy") != std::string::npos && ratio > 2.0) ok = false;
            row.verdict = ok ? "yes" : "NO";
        }
        rows.push_back(row);
    }

    if (commands) {
        if (access(program.c_str(), X_OK) != 0) {
            std::fprintf(stderr, "no program to time at %s (use --brindleaf=PATH)\n", program.c_str());
        } else {
            auto emptyHome = benchHomesDirectory() / "empty";
            std::filesystem::create_directories(emptyHome);
            CommandRun empty = medianOf(program, emptyHome.string(), "empty", commandRuns);
            for (HomeSize size : {HomeSize::typical, HomeSize::heavy}) {
                BenchHome& home = benchHome(size);
                const std::string tag = std::string(toString(size));
                // The raw reads of a cold refresh, measured right now, on top of the program's own start-up.
                RefreshFloorPlan plan = RefreshFloorPlan::forHome(home.home, currentDate());
                double started = monotonicSeconds();
                benchmark::DoNotOptimize(claudeColdFloor(plan) + codexColdFloor(plan, currentDate()) +
                                         hermesColdFloor(plan) + processTableFloor());
                double ioFloorMs = (monotonicSeconds() - started) * 1000.0;
                CommandRun run = medianOf(program, home.root(), tag, commandRuns);
                Row wall;
                wall.what = "brindleaf --dump-status wall/" + tag;
                wall.cost = run.status == 0 ? milliseconds(run.wallMs) : "exit " + std::to_string(run.status);
                double wallFloor = empty.wallMs + ioFloorMs;
                wall.floor = milliseconds(wallFloor);
                wall.ratio = fixed(run.wallMs / wallFloor, 1) + "x";
                Row memory;
                memory.what = "brindleaf --dump-status peak RSS/" + tag;
                memory.cost = fixed(run.peakRssMB, 1) + " MB";
                memory.floor = fixed(empty.peakRssMB, 1) + " MB";
                memory.ratio = fixed(run.peakRssMB / std::max(0.1, empty.peakRssMB), 1) + "x";
                if (size == HomeSize::heavy) {
                    wall.target = "<= 1 s";
                    wall.verdict = run.status == 0 && run.wallMs <= 1000 ? "yes" : "NO";
                    memory.target = "<= 60 MB";
                    memory.verdict = run.status == 0 && run.peakRssMB <= 60 ? "yes" : "NO";
                }
                rows.push_back(wall);
                rows.push_back(memory);
            }
        }
    }
    printTable(rows, others);
    return 0;
}
