#pragma once

#include <stdexcept>
#include <string>

namespace brindleaf {

// The only error the core raises. what() is the description:
// "sqlite open failed: MSG", "sqlite prepare failed: MSG",
// "sqlite cannot open: MSG" or "sqlite step failed: MSG".
class SQLiteReaderError : public std::runtime_error {
public:
    enum class Kind { openFailed, prepareFailed, cannotOpen, stepFailed };

    SQLiteReaderError(Kind kind, std::string message);

    Kind kind() const { return kind_; }
    // SQLite's own message.
    const std::string& message() const { return message_; }
    std::string description() const { return what(); }

    static std::string describe(Kind kind, const std::string& message);

private:
    Kind kind_;
    std::string message_;
};

} // namespace brindleaf
