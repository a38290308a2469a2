#include "sync/StatusPayloadCodec.hpp"

#include "core/TextUtils.hpp"
#include "core/TimestampParsing.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace brindleaf::StatusPayloadCodec {

namespace {

using nlohmann::json;

// Whole-second dates from 0000-01-01T00:00:00Z to 9999-12-31T23:59:59Z: those
// with a four-digit year in UTC. The encoder writes exactly these and the
// decoder accepts exactly these, so every decoded payload can be written again.
constexpr double earliestDate = -62167219200.0;
constexpr double latestDate = 253402300799.0;

bool isInDateRange(Date date) {
    if (!std::isfinite(date)) return false;
    const double seconds = std::floor(date);
    return seconds >= earliestDate && seconds <= latestDate;
}

std::string cleanText(const std::string& text) { return isValidUTF8(text) ? text : repairUTF8(text); }

void putOptionalText(json& object, const char* key, const std::optional<std::string>& value) {
    if (value) object[key] = cleanText(*value);
}

void putOptionalDate(json& object, const char* key, const std::optional<Date>& value) {
    if (value) object[key] = formatDate(*value);
}

std::string dumpCompact(const json& document) {
    try {
        return document.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const json::exception& error) {
        throw StatusPayloadCodecError(std::string("cannot write JSON: ") + error.what());
    }
}

// Decoding helpers. `where` is the path of the object being read, for messages.
const json& required(const json& object, const char* key, const std::string& where) {
    auto it = object.find(key);
    if (it == object.end())
        throw StatusPayloadCodecError("missing key \"" + std::string(key) + "\" at " + where);
    return *it;
}

[[noreturn]] void wrongType(const char* key, const std::string& where, const char* expected) {
    throw StatusPayloadCodecError("wrong type for \"" + std::string(key) + "\" at " + where + ": expected " +
                                  expected);
}

void requireObject(const json& value, const std::string& where) {
    if (!value.is_object()) throw StatusPayloadCodecError("expected an object at " + where);
}

std::string textValue(const json& value, const char* key, const std::string& where) {
    if (!value.is_string()) wrongType(key, where, "a string");
    return value.get<std::string>();
}

int64_t integerValue(const json& value, const char* key, const std::string& where) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() &&
            value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            wrongType(key, where, "an integer in range");
        return value.get<int64_t>();
    }
    if (value.is_number_float()) {
        double number = value.get<double>();
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9.2e18 && number <= 9.2e18)
            return static_cast<int64_t>(number);
    }
    wrongType(key, where, "an integer");
}

double doubleValue(const json& value, const char* key, const std::string& where) {
    if (!value.is_number()) wrongType(key, where, "a number");
    return value.get<double>();
}

bool boolValue(const json& value, const char* key, const std::string& where) {
    if (!value.is_boolean()) wrongType(key, where, "a Boolean");
    return value.get<bool>();
}

Date dateValue(const json& value, const char* key, const std::string& where) {
    if (!value.is_string()) wrongType(key, where, "an ISO 8601 date string");
    auto date = parseISO8601Date(value.get<std::string>());
    if (!date || !isInDateRange(*date))
        throw StatusPayloadCodecError("invalid date \"" + value.get<std::string>() + "\" for \"" + key + "\" at " +
                                      where);
    return *date;
}

StatusPayloadState stateValue(const json& value, const char* key, const std::string& where) {
    std::string raw = textValue(value, key, where);
    auto state = statusPayloadStateFromString(raw);
    if (!state) throw StatusPayloadCodecError("invalid state \"" + raw + "\" for \"" + key + "\" at " + where);
    return *state;
}

// Optional readers: absent (or null) keys give absent values; present ones must have the right type.
const json* optionalKey(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

std::optional<std::string> optionalText(const json& object, const char* key, const std::string& where) {
    const json* value = optionalKey(object, key);
    if (!value) return std::nullopt;
    return textValue(*value, key, where);
}

std::optional<Date> optionalDate(const json& object, const char* key, const std::string& where) {
    const json* value = optionalKey(object, key);
    if (!value) return std::nullopt;
    return dateValue(*value, key, where);
}

json parseDocument(std::string_view text) {
    json document = json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded()) throw StatusPayloadCodecError("the data is not valid JSON");
    return document;
}

StatusPayload payloadAt(const json& object, const std::string& where) {
    requireObject(object, where);
    StatusPayload payload;
    payload.schemaVersion = integerValue(required(object, "schemaVersion", where), "schemaVersion", where);
    payload.deviceID = textValue(required(object, "deviceID", where), "deviceID", where);
    payload.checkedAt = dateValue(required(object, "checkedAt", where), "checkedAt", where);
    payload.state = stateValue(required(object, "state", where), "state", where);
    payload.activeCount = integerValue(required(object, "activeCount", where), "activeCount", where);
    payload.staleCount = integerValue(required(object, "staleCount", where), "staleCount", where);
    const json& providers = required(object, "providers", where);
    if (!providers.is_array()) wrongType("providers", where, "an array");
    for (size_t i = 0; i < providers.size(); ++i)
        payload.providers.push_back(providerFromJSON(providers[i]));
    const json& sessions = required(object, "sessions", where);
    if (!sessions.is_array()) wrongType("sessions", where, "an array");
    for (size_t i = 0; i < sessions.size(); ++i) payload.sessions.push_back(sessionFromJSON(sessions[i]));
    return payload;
}

} // namespace

std::string formatDate(Date date) {
    if (!std::isfinite(date)) throw StatusPayloadCodecError("cannot write a date that is not a finite number");
    if (!isInDateRange(date)) throw StatusPayloadCodecError("cannot write a date outside the years 0000 to 9999");
    const double seconds = std::floor(date);
    time_t whole = static_cast<time_t>(seconds);
    tm parts{};
    gmtime_r(&whole, &parts);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return buffer;
}

json toJSON(const SessionResourceUsagePayload& usage) {
    json object = json::object();
    object["pid"] = usage.pid;
    if (usage.cpuPercent && std::isfinite(*usage.cpuPercent)) object["cpuPercent"] = *usage.cpuPercent;
    if (usage.residentMemoryBytes) object["residentMemoryBytes"] = *usage.residentMemoryBytes;
    object["processCount"] = std::max<int64_t>(1, usage.processCount);
    return object;
}

json toJSON(const SessionStatusPayload& s) {
    json object = json::object();
    object["id"] = cleanText(s.id);
    object["shortID"] = cleanText(s.shortID);
    object["provider"] = cleanText(s.provider);
    object["title"] = cleanText(s.title);
    putOptionalText(object, "agentNickname", s.agentNickname);
    putOptionalText(object, "agentRole", s.agentRole);
    putOptionalText(object, "parentShortID", s.parentShortID);
    putOptionalText(object, "parentTitle", s.parentTitle);
    putOptionalText(object, "parentAgentNickname", s.parentAgentNickname);
    putOptionalText(object, "parentAgentRole", s.parentAgentRole);
    putOptionalText(object, "threadSource", s.threadSource);
    putOptionalDate(object, "lastActivityAt", s.lastActivityAt);
    object["evidence"] = cleanText(s.evidence);
    putOptionalText(object, "workspaceLabel", s.workspaceLabel);
    object["needsUserAttention"] = s.needsUserAttention;
    if (s.resourceUsage) object["resourceUsage"] = toJSON(*s.resourceUsage);
    putOptionalText(object, "model", s.model);
    putOptionalText(object, "reasoningEffort", s.reasoningEffort);
    object["evidenceStrength"] = std::string(toString(s.evidenceStrength));
    putOptionalDate(object, "evidenceExpiresAt", s.evidenceExpiresAt);
    putOptionalText(object, "backgroundTaskSummary", s.backgroundTaskSummary);
    return object;
}

json toJSON(const ProviderStatusPayload& p) {
    json errors = json::array();
    for (const auto& error : p.errors) errors.push_back(cleanText(error));
    return json{{"providerID", cleanText(p.providerID)},
                {"name", cleanText(p.name)},
                {"state", std::string(toString(p.state))},
                {"activeCount", p.activeCount},
                {"ignoredStaleSessions", p.ignoredStaleSessions},
                {"checkedAt", formatDate(p.checkedAt)},
                {"errorCount", p.errorCount},
                {"errors", errors}};
}

json toJSON(const StatusPayload& payload) {
    json providers = json::array();
    for (const auto& provider : payload.providers) providers.push_back(toJSON(provider));
    json sessions = json::array();
    for (const auto& session : payload.sessions) sessions.push_back(toJSON(session));
    return json{{"schemaVersion", payload.schemaVersion},
                {"deviceID", cleanText(payload.deviceID)},
                {"checkedAt", formatDate(payload.checkedAt)},
                {"state", std::string(toString(payload.state))},
                {"activeCount", payload.activeCount},
                {"staleCount", payload.staleCount},
                {"providers", providers},
                {"sessions", sessions}};
}

std::string encode(const StatusPayload& payload) { return dumpCompact(toJSON(payload)); }

std::string encode(const StatusPayloadPrivacy& privacy) {
    return dumpCompact(json{{"includeSessionDetails", privacy.includeSessionDetails},
                            {"includeProviderErrors", privacy.includeProviderErrors},
                            {"maxSessions", std::max<int64_t>(0, privacy.maxSessions)},
                            {"maxErrorLength", std::max<int64_t>(0, privacy.maxErrorLength)}});
}

SessionResourceUsagePayload resourceUsageFromJSON(const json& object) {
    const std::string where = "resourceUsage";
    requireObject(object, where);
    SessionResourceUsagePayload usage;
    usage.pid = integerValue(required(object, "pid", where), "pid", where);
    if (const json* cpu = optionalKey(object, "cpuPercent")) usage.cpuPercent = doubleValue(*cpu, "cpuPercent", where);
    if (const json* memory = optionalKey(object, "residentMemoryBytes"))
        usage.residentMemoryBytes = integerValue(*memory, "residentMemoryBytes", where);
    usage.processCount = 1;
    if (const json* count = optionalKey(object, "processCount"))
        usage.processCount = std::max<int64_t>(1, integerValue(*count, "processCount", where));
    return usage;
}

SessionStatusPayload sessionFromJSON(const json& object) {
    const std::string where = "session";
    requireObject(object, where);
    SessionStatusPayload s;
    s.id = textValue(required(object, "id", where), "id", where);
    s.shortID = textValue(required(object, "shortID", where), "shortID", where);
    s.provider = textValue(required(object, "provider", where), "provider", where);
    s.title = textValue(required(object, "title", where), "title", where);
    s.agentNickname = optionalText(object, "agentNickname", where);
    s.agentRole = optionalText(object, "agentRole", where);
    s.parentShortID = optionalText(object, "parentShortID", where);
    s.parentTitle = optionalText(object, "parentTitle", where);
    s.parentAgentNickname = optionalText(object, "parentAgentNickname", where);
    s.parentAgentRole = optionalText(object, "parentAgentRole", where);
    s.threadSource = optionalText(object, "threadSource", where);
    s.lastActivityAt = optionalDate(object, "lastActivityAt", where);
    s.evidence = textValue(required(object, "evidence", where), "evidence", where);
    s.workspaceLabel = optionalText(object, "workspaceLabel", where);
    if (const json* needs = optionalKey(object, "needsUserAttention"))
        s.needsUserAttention = boolValue(*needs, "needsUserAttention", where);
    if (const json* usage = optionalKey(object, "resourceUsage")) s.resourceUsage = resourceUsageFromJSON(*usage);
    s.model = optionalText(object, "model", where);
    s.reasoningEffort = optionalText(object, "reasoningEffort", where);
    if (const json* strength = optionalKey(object, "evidenceStrength")) {
        std::string raw = textValue(*strength, "evidenceStrength", where);
        auto parsed = statusPayloadEvidenceStrengthFromString(raw);
        if (!parsed) throw StatusPayloadCodecError("invalid evidence strength \"" + raw + "\" at " + where);
        s.evidenceStrength = *parsed;
    }
    s.evidenceExpiresAt = optionalDate(object, "evidenceExpiresAt", where);
    s.backgroundTaskSummary = optionalText(object, "backgroundTaskSummary", where);
    return s;
}

ProviderStatusPayload providerFromJSON(const json& object) {
    const std::string where = "provider";
    requireObject(object, where);
    ProviderStatusPayload p;
    p.providerID = textValue(required(object, "providerID", where), "providerID", where);
    p.name = textValue(required(object, "name", where), "name", where);
    p.state = stateValue(required(object, "state", where), "state", where);
    p.activeCount = integerValue(required(object, "activeCount", where), "activeCount", where);
    p.ignoredStaleSessions =
        integerValue(required(object, "ignoredStaleSessions", where), "ignoredStaleSessions", where);
    p.checkedAt = dateValue(required(object, "checkedAt", where), "checkedAt", where);
    p.errorCount = integerValue(required(object, "errorCount", where), "errorCount", where);
    const json& errors = required(object, "errors", where);
    if (!errors.is_array()) wrongType("errors", where, "an array");
    for (const auto& error : errors) {
        if (!error.is_string()) wrongType("errors", where, "an array of strings");
        p.errors.push_back(error.get<std::string>());
    }
    return p;
}

StatusPayload payloadFromJSON(const json& object) { return payloadAt(object, "payload"); }

StatusPayload decodePayload(std::string_view text) { return payloadFromJSON(parseDocument(text)); }

StatusPayloadPrivacy decodePrivacy(std::string_view text) {
    json object = parseDocument(text);
    const std::string where = "privacy";
    requireObject(object, where);
    bool details = boolValue(required(object, "includeSessionDetails", where), "includeSessionDetails", where);
    bool errors = boolValue(required(object, "includeProviderErrors", where), "includeProviderErrors", where);
    int64_t sessions = integerValue(required(object, "maxSessions", where), "maxSessions", where);
    int64_t length = integerValue(required(object, "maxErrorLength", where), "maxErrorLength", where);
    return StatusPayloadPrivacy(details, errors, sessions, length);
}

} // namespace brindleaf::StatusPayloadCodec
