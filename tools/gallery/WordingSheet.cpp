// Every wording and number format beside its input, boundary cases included,
// as one text file.
#include "presentation/SessionActivityText.hpp"
#include "presentation/StatusFormatting.hpp"
#include "presentation/StatusWording.hpp"
#include "presentation/WorkspacePathDisplay.hpp"
#include "tools/gallery/GalleryRegistry.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

namespace brindleaf::gallery {

namespace {

std::string show(const std::optional<std::string>& text) { return text ? "\"" + *text + "\"" : "(absent)"; }

std::string number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+inf" : "-inf";
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

void renderWording(GalleryOutput& output) {
    using Mood = StatusWording::Mood;
    const double now = GalleryOutput::fixedNow;
    std::ostringstream out;
    out << "# Wording and formats (reference time " << std::fixed << now << ")\n\n";
    out.unsetf(std::ios::fixed);

    out << "## Moods: title | summary(running, waiting, last update)\n";
    const std::pair<Mood, const char*> moods[] = {{Mood::working, "working"},
                                                  {Mood::waiting, "waiting"},
                                                  {Mood::idle, "idle"},
                                                  {Mood::unavailable, "unavailable"},
                                                  {Mood::notUpdated, "notUpdated"}};
    const std::pair<std::int64_t, std::int64_t> counts[] = {{0, 0}, {1, 0}, {3, 1}, {1, 2}, {0, 1}, {2, 3}};
    for (const auto& [mood, name] : moods) {
        out << name << ": \"" << StatusWording::title(mood) << "\"\n";
        if (mood == Mood::notUpdated) {
            const std::optional<double> lasts[] = {std::nullopt, now - 9.9,       now - 10,    now - 95,
                                                   now - 7200,   now - 3 * 86400, std::nan("")};
            for (const auto& last : lasts)
                out << "  last update " << (last ? "now - " + number(now - *last) : std::string("(none)")) << " -> \""
                    << StatusWording::summary(mood, 0, 0, last, now) << "\"\n";
            continue;
        }
        for (const auto& [running, waiting] : counts)
            out << "  R=" << running << " W=" << waiting << " -> \""
                << StatusWording::summary(mood, running, waiting, std::nullopt, now) << "\"\n";
    }
    out << "\nsessionCount: 0 -> \"" << StatusWording::sessionCount(0) << "\", 1 -> \""
        << StatusWording::sessionCount(1) << "\", 7 -> \"" << StatusWording::sessionCount(7) << "\"\n";
    out << "staleSessionsHelp: \"" << StatusWording::staleSessionsHelp() << "\"\n";

    out << "\n## Session activity (evidence, needs attention) -> phrase\n";
    const std::pair<const char*, bool> activities[] = {
        {"rollout has pending tool call", true},
        {"tool call awaiting user authorization", false},
        {"Claude is waiting for your choice", false},
        {"scheduled wakeup in 10 minutes", false},
        {"agent sleeping", false},
        {"background task still running", false},
        {"subagent running a tool", false},
        {"handoff to reviewer", false},
        {"active child process", false},
        {"context compression", false},
        {"rollout has pending tool call", false},
        {"Open Turn", false},
        {"Claude turn awaiting assistant response", false},
        {"waiting for backend response", false},
        {"user turn started", false},
        {"", false},
        {"recent runtime log activity", false},
    };
    for (const auto& [activity, attention] : activities)
        out << "\"" << activity << "\", " << (attention ? "yes" : "no") << " -> \""
            << SessionActivityText::text(activity, attention) << "\"\n";

    out << "\n## Relative time (date - reference in seconds) -> phrase\n";
    for (double offset : {0.0, -9.99, 9.99, -10.0, 10.0, -59.0, -60.0, -95.0, -3599.0, -7200.0, -86400.0, -3 * 86400.0,
                          -8 * 86400.0, -40 * 86400.0, -400 * 86400.0, 3600.0})
        out << number(offset) << " -> \"" << StatusFormatting::relativeTime(now + offset, now) << "\"\n";
    out << "NaN -> \"" << StatusFormatting::relativeTime(std::nan(""), now) << "\" (no time text)\n";

    out << "\n## Model and effort\n";
    const std::pair<std::optional<std::string>, std::optional<std::string>> profiles[] = {
        {"gpt-5-codex", "high"}, {"claude-opus-5", std::nullopt}, {"   ", "high"}, {std::nullopt, " "}, {" m \n", "e"}};
    for (const auto& [model, effort] : profiles)
        out << show(model) << ", " << show(effort) << " -> " << show(StatusFormatting::modelEffort(model, effort))
            << "\n";

    out << "\n## CPU percent\n";
    for (double cpu : {-3.0, 0.0, 0.0999, 0.1, 9.94, 9.95, 9.96, 10.0, 18.4, 250.5, std::nan(""),
                       std::numeric_limits<double>::infinity()})
        out << number(cpu) << " -> \"" << StatusFormatting::cpuPercent(cpu) << "\"\n";

    out << "\n## Memory (bytes)\n";
    for (std::int64_t bytes :
         {std::int64_t{0}, std::int64_t{1}, std::int64_t{1023}, std::int64_t{1024}, std::int64_t{1536},
          std::int64_t{1234567}, std::int64_t{222298112}, std::int64_t{319815680}, std::int64_t{1610612736},
          std::int64_t{5} << 40, std::int64_t{-1536}, std::numeric_limits<std::int64_t>::max(),
          std::numeric_limits<std::int64_t>::min()})
        out << bytes << " -> \"" << StatusFormatting::memory(bytes) << "\"\n";

    out << "\n## Resource line (cpu, memory, processes)\n";
    struct Line {
        std::optional<double> cpu;
        std::optional<std::int64_t> memory;
        std::int64_t processes;
    } lines[] = {{18.4, 222298112, 3},
                 {6.2, 319815680, 2},
                 {std::nullopt, std::nullopt, 1},
                 {std::nullopt, std::nullopt, 3},
                 {0.05, std::nullopt, 1},
                 {std::nan(""), -5, 1},
                 {std::nan(""), 2048, 2}};
    for (const auto& line : lines)
        out << (line.cpu ? number(*line.cpu) : "(none)") << ", "
            << (line.memory ? std::to_string(*line.memory) : "(none)") << ", " << line.processes << " -> "
            << show(StatusFormatting::resourceLine(line.cpu, line.memory, line.processes)) << "\n";

    out << "\n## Workspace path -> (parent, name)\n";
    for (const char* path : {"/Users/me/project/", "/project", "project", "/", "//", "", "/home/me//", "a/b/c"}) {
        const auto parts = WorkspacePathDisplay::parts(path);
        out << "\"" << path << "\" -> (\"" << parts.parent << "\", \"" << parts.name << "\")\n";
    }
    output.saveText("wording/wording.txt", out.str());
}

const bool registered = registerGalleryPage({"wording", renderWording});

} // namespace

} // namespace brindleaf::gallery
