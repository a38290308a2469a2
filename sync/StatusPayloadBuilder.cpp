#include "sync/StatusPayloadBuilder.hpp"

#include "core/ProviderCatalog.hpp"
#include "core/TextUtils.hpp"
#include "platform/DeviceName.hpp"
#include "services/StaleSessionBaselines.hpp"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>

namespace brindleaf {

namespace {

constexpr std::string_view codexReviewPreamble = "The following is the Codex agent history";
constexpr std::string_view codexReviewTitle = "Codex internal review session";

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// User-perceived characters (grapheme clusters) of well-formed or repaired UTF-8.
std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> out;
    if (isASCII(text)) {
        for (size_t i = 0; i < text.size(); ++i) out.push_back(text.substr(i, 1));
        return out;
    }
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !iterator) {
        for (size_t i = 0; i < text.size(); ++i) out.push_back(text.substr(i, 1));
        return out;
    }
    // Map UTF-16 boundaries back to byte offsets of the (possibly repaired) text.
    std::string utf8;
    unicode.toUTF8String(utf8);
    if (utf8 != text) return {}; // the caller passes repaired text
    iterator->setText(unicode);
    std::vector<int32_t> boundaries;
    for (int32_t b = iterator->first(); b != icu::BreakIterator::DONE; b = iterator->next()) boundaries.push_back(b);
    size_t byteStart = 0;
    for (size_t i = 1; i < boundaries.size(); ++i) {
        std::string segment;
        unicode.tempSubStringBetween(boundaries[i - 1], boundaries[i]).toUTF8String(segment);
        out.push_back(text.substr(byteStart, segment.size()));
        byteStart += segment.size();
    }
    return out;
}

std::string cleaned(std::string_view text) { return isValidUTF8(text) ? std::string(text) : repairUTF8(text); }

size_t characterCount(std::string_view text) { return isASCII(text) ? text.size() : characters(text).size(); }

std::string firstCharacters(std::string_view text, size_t count) {
    if (isASCII(text)) return std::string(text.substr(0, std::min(count, text.size())));
    auto segments = characters(text);
    std::string out;
    for (size_t i = 0; i < segments.size() && i < count; ++i) out += segments[i];
    return out;
}

std::optional<std::string> cutOptional(const std::optional<std::string>& text, int64_t limit) {
    if (!text) return std::nullopt;
    std::string cut = truncatedFirstLine(*text, limit);
    if (cut.empty()) return std::nullopt;
    return cut;
}

std::string replacingCodexReview(std::string title) {
    if (title.rfind(codexReviewPreamble, 0) == 0) return std::string(codexReviewTitle);
    return title;
}

std::string errorLine(const std::string& error, int64_t maxLength) {
    return truncatedFirstLine(error, std::max<int64_t>(0, maxLength));
}

// The sum held at the ends of the 64-bit range instead of wrapping around.
int64_t saturatingSum(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    return sum;
}

} // namespace

StaleSessionSource rawStaleSessionSource() {
    return [](const ProviderSnapshot& provider) { return provider.ignoredStaleSessions; };
}

StaleSessionSource clearedStaleSessionSource() {
    return [](const ProviderSnapshot& provider) {
        return hiddenStaleCountForProvider(provider.providerName, provider.ignoredStaleSessions,
                                           loadClearedStaleBaselines());
    };
}

std::string truncatedFirstLine(std::string_view text, int64_t limit) {
    return firstLineTruncated(static_cast<size_t>(std::max<int64_t>(0, limit)), cleaned(text));
}

std::string shortSessionID(std::string_view rawID) {
    std::string id = cleaned(rawID);
    std::vector<std::string_view> segments;
    std::string_view view(id);
    size_t start = 0;
    while (start <= view.size()) {
        size_t end = view.find('_', start);
        if (end == std::string_view::npos) end = view.size();
        if (end > start) segments.push_back(view.substr(start, end - start));
        start = end + 1;
    }
    if (segments.size() >= 2 && characterCount(segments.back()) >= 6) return firstCharacters(segments.back(), 8);
    if (characterCount(id) < 11) return id;
    return firstCharacters(id, 8);
}

std::optional<std::string> standardizedPath(std::string_view raw) {
    if (raw.empty()) return std::nullopt;
    std::filesystem::path path{std::string(raw)};
    if (path.is_relative()) {
        std::error_code ec;
        auto base = std::filesystem::current_path(ec);
        if (!ec) path = base / path;
    }
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

std::string deviceDisplayName() {
    std::string name = DeviceName::current();
    return name.empty() ? "mac" : name;
}

std::string providerIDForName(const std::string& providerName) {
    icu::UnicodeString name = icu::UnicodeString::fromUTF8(providerName);
    for (const auto& descriptor : ProviderCatalog::all()) {
        if (name.caseCompare(icu::UnicodeString::fromUTF8(descriptor.displayName), U_FOLD_CASE_DEFAULT) == 0)
            return descriptor.id;
    }
    std::string lowered;
    icu::UnicodeString(name).toLower(icu::Locale::getRoot()).toUTF8String(lowered);
    std::replace(lowered.begin(), lowered.end(), ' ', '-');
    return lowered;
}

SessionStatusPayload makeSessionStatusPayload(const AgentSession& session) {
    SessionStatusPayload s;
    s.id = session.id;
    s.shortID = shortSessionID(session.id);
    s.provider = session.provider;
    s.title = replacingCodexReview(truncatedFirstLine(session.title.empty() ? session.id : session.title, 80));
    s.agentNickname = cutOptional(session.agentNickname, 80);
    s.agentRole = cutOptional(session.agentRole, 80);
    if (session.parentID) s.parentShortID = shortSessionID(*session.parentID);
    if (auto parentTitle = cutOptional(session.parentTitle, 80)) s.parentTitle = replacingCodexReview(*parentTitle);
    s.parentAgentNickname = cutOptional(session.parentAgentNickname, 80);
    s.parentAgentRole = cutOptional(session.parentAgentRole, 80);
    s.threadSource = cutOptional(session.threadSource, 80);
    s.lastActivityAt = session.lastActivityAt;
    s.evidence = truncatedFirstLine(session.evidence, 120);
    s.workspaceLabel = standardizedPath(session.cwd);
    s.needsUserAttention = session.needsUserAttention;
    if (const auto& usage = session.resourceUsage) {
        SessionResourceUsagePayload payload;
        payload.pid = usage->pid;
        if (usage->cpuPercent && std::isfinite(*usage->cpuPercent)) payload.cpuPercent = usage->cpuPercent;
        payload.residentMemoryBytes = usage->residentMemoryBytes;
        payload.processCount = std::max<int64_t>(1, usage->processCount);
        s.resourceUsage = payload;
    }
    if (const auto& profile = session.runtimeProfile) {
        s.model = cutOptional(profile->model, 80);
        s.reasoningEffort = cutOptional(profile->reasoningEffort, 40);
    }
    s.evidenceStrength = session.evidenceStrength == RunEvidenceStrength::weakRecent
                             ? StatusPayloadEvidenceStrength::recent
                             : StatusPayloadEvidenceStrength::confirmed;
    s.evidenceExpiresAt = session.evidenceLeaseExpiresAt;
    s.backgroundTaskSummary = cutOptional(session.backgroundTaskSummary, 80);
    return s;
}

static StatusPayloadState payloadState(AgentRunState state) {
    switch (state) {
    case AgentRunState::inProgress: return StatusPayloadState::inProgress;
    case AgentRunState::complete: return StatusPayloadState::complete;
    case AgentRunState::unknown: return StatusPayloadState::unknown;
    }
    return StatusPayloadState::unknown;
}

StatusPayload buildStatusPayload(const AgentStatusSnapshot& snapshot, const std::string& deviceID,
                                 const StatusPayloadPrivacy& privacy, const StaleSessionSource& staleSource) {
    const int64_t maxSessions = std::max<int64_t>(0, privacy.maxSessions);
    const int64_t maxErrorLength = std::max<int64_t>(0, privacy.maxErrorLength);
    StatusPayload payload;
    if (privacy.includeSessionDetails) {
        size_t count = std::min<size_t>(snapshot.activeSessions.size(), static_cast<size_t>(maxSessions));
        payload.sessions.reserve(count);
        for (size_t i = 0; i < count; ++i) payload.sessions.push_back(makeSessionStatusPayload(snapshot.activeSessions[i]));
    }
    payload.providers.reserve(snapshot.providerSnapshots.size());
    for (const auto& provider : snapshot.providerSnapshots) {
        ProviderStatusPayload record;
        record.providerID = providerIDForName(provider.providerName);
        record.name = provider.providerName;
        record.state = payloadState(provider.state);
        record.activeCount = static_cast<int64_t>(provider.activeSessions.size());
        record.ignoredStaleSessions = staleSource(provider);
        record.checkedAt = provider.checkedAt;
        record.errorCount = static_cast<int64_t>(provider.errors.size());
        if (privacy.includeProviderErrors) {
            record.errors.reserve(provider.errors.size());
            for (const auto& error : provider.errors) record.errors.push_back(errorLine(error, maxErrorLength));
        }
        payload.providers.push_back(std::move(record));
    }
    payload.schemaVersion = 1;
    payload.deviceID = deviceID;
    payload.checkedAt = snapshot.checkedAt;
    payload.state = snapshot.state == AgentRunState::inProgress ? StatusPayloadState::inProgress
                                                                : StatusPayloadState::complete;
    payload.activeCount = static_cast<int64_t>(snapshot.activeSessions.size());
    int64_t stale = 0;
    for (const auto& provider : snapshot.providerSnapshots) stale = saturatingSum(stale, staleSource(provider));
    payload.staleCount = stale;
    return payload;
}

} // namespace brindleaf
