#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace brindleaf {

// Remembers a yes/no test on texts (process command lines), keyed by the exact
// text. Emptied whole when a new answer would be stored while it holds more
// than 8192, or when the new text would take the remembered texts past 4 MiB
// (a build's compiler and linker command lines run to many kilobytes each); a
// text longer than that is never remembered. The predicate runs outside the lock.
class StringPredicateMemo {
public:
    static constexpr std::size_t emptyingThreshold = 8192;
    static constexpr std::size_t textBudget = 4 * 1024 * 1024;

    explicit StringPredicateMemo(std::function<bool(std::string_view)> predicate);
    StringPredicateMemo(const StringPredicateMemo&) = delete;
    StringPredicateMemo& operator=(const StringPredicateMemo&) = delete;

    bool evaluate(std::string_view text);

    // The number of remembered answers, and the bytes of their texts.
    std::size_t count() const;
    std::size_t textBytes() const;

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };

    const std::function<bool(std::string_view)> predicate_;
    mutable std::mutex lock_;
    std::unordered_map<std::string, bool, Hash, std::equal_to<>> cache_;
    std::size_t textBytes_ = 0;
};

} // namespace brindleaf
