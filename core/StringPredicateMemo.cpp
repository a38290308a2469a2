#include "core/StringPredicateMemo.hpp"

#include <utility>

namespace brindleaf {

StringPredicateMemo::StringPredicateMemo(std::function<bool(std::string_view)> predicate)
    : predicate_(std::move(predicate)) {}

bool StringPredicateMemo::evaluate(std::string_view text) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = cache_.find(text);
        if (it != cache_.end()) return it->second;
    }
    const bool answer = predicate_(text);
    std::lock_guard<std::mutex> guard(lock_);
    // clear() keeps the bucket storage.
    if (cache_.size() > emptyingThreshold) cache_.clear();
    cache_.insert_or_assign(std::string(text), answer);
    return answer;
}

std::size_t StringPredicateMemo::count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return cache_.size();
}

} // namespace brindleaf
