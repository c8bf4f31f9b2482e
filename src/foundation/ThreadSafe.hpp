#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Quelt {

// A value beside a reader/writer mutex. Readers run under the shared lock,
// writers under the exclusive one; neither hands out a reference that
// outlives its lock.
template <typename T>
class ThreadSafe {
public:
    ThreadSafe() = default;
    ThreadSafe(const ThreadSafe &) = delete;
    ThreadSafe &operator=(const ThreadSafe &) = delete;

    // Runs f(value) under the exclusive lock and returns its result.
    template <typename F>
    decltype(auto) write(F &&f) {
        std::unique_lock<std::shared_mutex> lock(mutex_);
        return std::forward<F>(f)(value_);
    }

    // Runs f(value) under the shared lock and returns its result.
    template <typename F>
    decltype(auto) read(F &&f) const {
        std::shared_lock<std::shared_mutex> lock(mutex_);
        return std::forward<F>(f)(std::as_const(value_));
    }

    // The mutex, for callers that must hold it across several steps.
    std::shared_mutex &mutex() const { return mutex_; }

protected:
    T value_{};
    mutable std::shared_mutex mutex_;
};

// A std::map behind a reader/writer mutex. Values are handed out as copies
// (the maps of the library hold shared pointers), never as references.
template <typename K, typename V, typename Compare = std::less<K>>
class ThreadSafeMap : public ThreadSafe<std::map<K, V, Compare>> {
public:
    using Map = std::map<K, V, Compare>;

    // A copy of the value held for `key`, if any (shared lock).
    std::optional<V> find(const K &key) const {
        return this->read([&](const Map &map) -> std::optional<V> {
            const auto it = map.find(key);
            if (it == map.end())
                return std::nullopt;
            return it->second;
        });
    }

    bool contains(const K &key) const {
        return this->read([&](const Map &map) { return map.count(key) != 0; });
    }

    // Runs f(key, value) on every entry in ascending key order, holding the
    // shared lock for the whole walk.
    template <typename F>
    void forEach(F &&f) const {
        this->read([&](const Map &map) {
            for (const auto &[key, value] : map)
                f(key, value);
        });
    }

    // Copies of every entry in ascending key order, taken under the shared
    // lock; the caller works on them without holding it.
    std::vector<std::pair<K, V>> entries() const {
        std::vector<std::pair<K, V>> copies;
        forEach([&](const K &key, const V &value) { copies.emplace_back(key, value); });
        return copies;
    }

    // A copy of the value held for `key` (exclusive lock); throws
    // std::out_of_range "map::at" when absent.
    V at(const K &key) {
        return this->write([&](Map &map) { return map.at(key); });
    }

    // Inserts `value` only when `key` is absent (exclusive lock). Returns the
    // value the map then holds for `key` and whether it was inserted.
    std::pair<V, bool> try_emplace(const K &key, V value) {
        return this->write([&](Map &map) {
            const auto [it, inserted] = map.try_emplace(key, std::move(value));
            return std::pair<V, bool>(it->second, inserted);
        });
    }

    // Replaces the entry of `key` when one was seen, inserts otherwise, in two
    // steps: a lookup under the shared lock, then the change under the
    // exclusive lock. An entry seen in the first step is replaced (or put back
    // if it went in between); when the key was absent at first and another
    // writer inserted it in between, that writer's entry stays and `value` is
    // dropped. Returns the value the map then holds for `key` and whether an
    // insertion took place.
    std::pair<V, bool> try_emplace_or_replace(const K &key, V value) {
        const bool seen = contains(key);
        return this->write([&](Map &map) {
            const auto it = map.find(key);
            if (it == map.end()) {
                const auto inserted = map.emplace(key, std::move(value)).first;
                return std::pair<V, bool>(inserted->second, true);
            }
            if (seen)
                it->second = std::move(value);
            return std::pair<V, bool>(it->second, false);
        });
    }

    std::size_t size() const {
        return this->read([](const Map &map) { return map.size(); });
    }
};

} // namespace Quelt
