#pragma once

#include "core/Date.hpp"
#include "core/FileStat.hpp"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace brindleaf {

// One remembered query result against another program's SQLite database,
// usable while the database file and its "-wal" file keep their size and
// modification time. The lock is held only for lookup and store; the query
// runs outside it.
template <typename Value>
class DatabaseQueryCache {
public:
    struct Signature {
        std::optional<uint64_t> databaseSize{};
        std::optional<Date> databaseModifiedAt{};
        std::optional<uint64_t> walSize{};
        std::optional<Date> walModifiedAt{};

        // The signature of `databasePath` and of `databasePath` + "-wal"
        // (one stat each, the database first).
        static Signature of(const std::string& databasePath) {
            Signature signature{};
            if (auto db = FileStat::info(databasePath)) {
                signature.databaseSize = db->size;
                signature.databaseModifiedAt = db->modifiedAt;
            }
            if (auto wal = FileStat::info(databasePath + "-wal")) {
                signature.walSize = wal->size;
                signature.walModifiedAt = wal->modifiedAt;
            }
            return signature;
        }

        bool operator==(const Signature&) const = default;
    };

    // An extra test on a cached value; empty accepts everything.
    using Acceptance = std::function<bool(const Value&)>;

    DatabaseQueryCache() = default;
    DatabaseQueryCache(const DatabaseQueryCache&) = delete;
    DatabaseQueryCache& operator=(const DatabaseQueryCache&) = delete;

    // The cached value when it was stored for this path and key under an equal
    // signature, the database exists, and `accept` (if any) accepts it.
    std::optional<Value> lookup(const std::string& path, const std::string& key, const Signature& signature,
                                const Acceptance& accept = {}) const {
        std::lock_guard<std::mutex> guard(lock_);
        if (!cached_ || !signature.databaseSize) return std::nullopt;
        if (cached_->path != path || cached_->key != key || !(cached_->signature == signature)) return std::nullopt;
        if (accept && !accept(cached_->value)) return std::nullopt;
        return cached_->value;
    }

    // Replaces the one cached result.
    void store(const std::string& path, const std::string& key, const Signature& signature, Value value) {
        std::lock_guard<std::mutex> guard(lock_);
        cached_ = Cached{path, key, signature, std::move(value)};
    }

    // The whole read: signature, lookup, else `query()` outside the lock and a
    // store under the signature taken before the query. An exception from the
    // query goes to the caller and leaves the cached result as it was.
    template <typename Query>
    Value read(const std::string& path, const std::string& key, Query&& query, const Acceptance& accept = {}) {
        const Signature signature = Signature::of(path);
        if (auto hit = lookup(path, key, signature, accept)) return std::move(*hit);
        Value value = query();
        store(path, key, signature, value);
        return value;
    }

private:
    struct Cached {
        std::string path{};
        std::string key{};
        Signature signature{};
        Value value{};
    };

    mutable std::mutex lock_;
    std::optional<Cached> cached_{};
};

} // namespace brindleaf
