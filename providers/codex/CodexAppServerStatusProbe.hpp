#pragma once

#include "core/Date.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"

#include <cstddef>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace brindleaf {

// Asks a Codex app-server status endpoint, with one GET per call, which threads
// it knows and in which run state each one is.
class CodexAppServerStatusProbe final : public CodexOfficialStatusProbe {
public:
    // The probe's own failures. Transport failures (refused connection, unknown
    // host, an oversized answer) are TransportError; an answer that is not JSON
    // is CodexAppServerStatusParser::ParseError.
    class ProbeError : public std::runtime_error {
    public:
        enum class Kind { httpStatus, timedOut, noData };
        static ProbeError httpStatus(long code);
        static ProbeError timedOut();
        static ProbeError noData();
        Kind kind() const { return kind_; }
        long statusCode() const { return statusCode_; }

    private:
        ProbeError(Kind kind, long statusCode, const std::string& message)
            : std::runtime_error(message), kind_(kind), statusCode_(statusCode) {}
        Kind kind_;
        long statusCode_;
    };

    class TransportError : public std::runtime_error {
    public:
        TransportError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
        // The libcurl result code.
        int code() const { return code_; }

    private:
        int code_;
    };

    static constexpr double minimumTimeout = 0.5;
    static constexpr double maximumTimeout = 0.8;
    // Larger answers are cut off and reported as a transport error.
    static constexpr std::size_t maxBodyBytes = 8u << 20;
    static constexpr long maxRedirects = 3;

    // The timeout is clamped into [0.5, 0.8] seconds.
    CodexAppServerStatusProbe(std::string statusURL, double timeout);

    // A probe for the endpoint that "CODEX_APP_SERVER_STATUS_URL" names, or when
    // that variable is absent "CODEX_APP_SERVER_URL"; none when neither is present
    // or the value is not a usable URL. An empty or "/" path becomes "/status".
    static std::shared_ptr<CodexAppServerStatusProbe> fromEnvironment(
        const std::map<std::string, std::string>& environment);

    // The process environment as a map.
    static std::map<std::string, std::string> processEnvironment();

    const std::string& statusURL() const { return statusURL_; }
    double timeout() const { return timeout_; }

    // One blocking request of at most `timeout` seconds, then the parser.
    std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date scanTime) override;

private:
    std::string statusURL_;
    double timeout_;
};

} // namespace brindleaf
