#pragma once

#include "core/Date.hpp"
#include "core/FileStat.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brindleaf {

// Per file, the value a provider derived from it, valid while the file's size
// and modification time are unchanged. Bounded: a store that takes the cache
// over its capacity keeps only the most recently used half. The lock is held
// only for bookkeeping; stat() and the loader run outside it, so two callers
// missing on the same key both load and the later store wins.
template <typename Value>
class FileSnapshotCache {
public:
    struct Key {
        std::string path{};    // exactly as the caller passed it
        std::string variant{}; // keeps apart values derived differently from one file; empty normally
        bool operator==(const Key&) const = default;
    };

    struct Entry {
        uint64_t size = 0;
        std::optional<Date> modifiedAt{};
        Value value{};
        uint64_t lastUsed = 0;
    };

    explicit FileSnapshotCache(std::ptrdiff_t capacity) : capacity_(capacity) {}
    FileSnapshotCache(const FileSnapshotCache&) = delete;
    FileSnapshotCache& operator=(const FileSnapshotCache&) = delete;

    std::ptrdiff_t capacity() const { return capacity_; }

    // The value derived from the file at `path`: from the cache while the file
    // is unchanged, else from `load` (which never fails). `info`, when given,
    // stands for the file's current state and spares the cache its own stat().
    template <typename Load>
    Value value(const std::string& path, const std::string& variant, std::optional<FileStat::Info> info, Load&& load) {
        const std::optional<FileStat::Info> current = info ? info : FileStat::info(path);
        uint64_t tick;
        {
            std::lock_guard<std::mutex> guard(lock_);
            tick = ++clock_;
            if (current) {
                // Looked up by the caller's strings: a hit copies no key.
                auto it = entries_.find(KeyView{path, variant});
                if (it != entries_.end() && it->second.size == current->size && it->second.modifiedAt &&
                    *it->second.modifiedAt == current->modifiedAt) {
                    it->second.lastUsed = tick;
                    return it->second.value;
                }
            }
        }
        Value loaded = load();
        if (!current) return loaded;
        std::lock_guard<std::mutex> guard(lock_);
        entries_.insert_or_assign(Key{path, variant}, Entry{current->size, current->modifiedAt, loaded, tick});
        if (static_cast<std::ptrdiff_t>(entries_.size()) > capacity_) evictLocked();
        return loaded;
    }

    template <typename Load>
    Value value(const std::string& path, Load&& load) {
        return value(path, std::string(), std::nullopt, std::forward<Load>(load));
    }

    template <typename Load>
    Value value(const std::string& path, const std::string& variant, Load&& load) {
        return value(path, variant, std::nullopt, std::forward<Load>(load));
    }

    // The entries ordered by lastUsed, most recent first.
    std::vector<std::pair<Key, Entry>> entriesByRecency() const {
        std::vector<std::pair<Key, Entry>> result;
        {
            std::lock_guard<std::mutex> guard(lock_);
            result.reserve(entries_.size());
            for (const auto& [key, entry] : entries_) result.emplace_back(key, entry);
        }
        std::sort(result.begin(), result.end(),
                  [](const auto& a, const auto& b) { return a.second.lastUsed > b.second.lastUsed; });
        return result;
    }

    std::size_t count() const {
        std::lock_guard<std::mutex> guard(lock_);
        return entries_.size();
    }

private:
    struct KeyView {
        std::string_view path;
        std::string_view variant;
    };

    struct KeyHash {
        using is_transparent = void;
        static std::size_t combine(std::string_view path, std::string_view variant) {
            std::size_t h = std::hash<std::string_view>()(path);
            return h ^ (std::hash<std::string_view>()(variant) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
        }
        std::size_t operator()(const Key& key) const { return combine(key.path, key.variant); }
        std::size_t operator()(const KeyView& key) const { return combine(key.path, key.variant); }
    };

    struct KeyEqual {
        using is_transparent = void;
        static bool same(std::string_view a, std::string_view b, std::string_view c, std::string_view d) {
            return a == c && b == d;
        }
        bool operator()(const Key& a, const Key& b) const { return a == b; }
        bool operator()(const KeyView& a, const Key& b) const { return same(a.path, a.variant, b.path, b.variant); }
        bool operator()(const Key& a, const KeyView& b) const { return same(a.path, a.variant, b.path, b.variant); }
    };

    void evictLocked() {
        std::vector<std::pair<uint64_t, typename std::unordered_map<Key, Entry, KeyHash, KeyEqual>::iterator>> order;
        order.reserve(entries_.size());
        for (auto it = entries_.begin(); it != entries_.end(); ++it) order.emplace_back(it->second.lastUsed, it);
        const std::size_t keep = capacity_ > 0 ? static_cast<std::size_t>(capacity_ / 2) : 0;
        if (keep < order.size()) {
            std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(keep), order.end(),
                             [](const auto& a, const auto& b) { return a.first > b.first; });
            for (std::size_t i = keep; i < order.size(); ++i) entries_.erase(order[i].second);
        }
    }

    const std::ptrdiff_t capacity_;
    mutable std::mutex lock_;
    std::unordered_map<Key, Entry, KeyHash, KeyEqual> entries_;
    uint64_t clock_ = 0;
};

} // namespace brindleaf
