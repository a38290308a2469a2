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
    if (text.size() > textBudget) return answer;
    std::lock_guard<std::mutex> guard(lock_);
    // Another thread may have remembered it meanwhile.
    if (cache_.contains(text)) return answer;
    // clear() keeps the bucket storage.
    if (cache_.size() > emptyingThreshold || textBytes_ + text.size() > textBudget) {
        cache_.clear();
        textBytes_ = 0;
    }
    cache_.emplace(std::string(text), answer);
    textBytes_ += text.size();
    return answer;
}

std::size_t StringPredicateMemo::textBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return textBytes_;
}

std::size_t StringPredicateMemo::count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return cache_.size();
}

} // namespace brindleaf
