#include "core/SQLiteReaderError.hpp"

#include <utility>

namespace brindleaf {

SQLiteReaderError::SQLiteReaderError(Kind kind, std::string message)
    : std::runtime_error(describe(kind, message)), kind_(kind), message_(std::move(message)) {}

std::string SQLiteReaderError::describe(Kind kind, const std::string& message) {
    switch (kind) {
    case Kind::openFailed:
        return "sqlite open failed: " + message;
    case Kind::prepareFailed:
        return "sqlite prepare failed: " + message;
    case Kind::cannotOpen:
        return "sqlite cannot open: " + message;
    case Kind::stepFailed:
        return "sqlite step failed: " + message;
    }
    return message;
}

} // namespace brindleaf
