#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/DeviceSpecificArray.hpp"
#include "Quelt/Exception.hpp"

#include <complex>
#include <map>
#include <mutex>
#include <type_traits>
#include <utility>

namespace Quelt {

namespace detail {
// Moves a per-device value to another device: arrays move themselves, lists
// move every element.
template <typename T>
void moveValueTo(T &value, const Device &device) {
    if constexpr (requires { value.to(device); }) {
        value.to(device);
    } else {
        for (auto &element : value)
            element.to(device);
    }
}
} // namespace detail

// One value per device (a table, a list of key parts), guarded by a mutex that
// is held only while the map itself is searched or changed, or during a copy
// between devices. References handed out stay valid while their entry exists.
template <typename T>
class MultipleDevice {
public:
    struct Comparator {
        bool operator()(const Device &a, const Device &b) const { return a < b; }
    };
    using Map = std::map<Device, T, Comparator>;

    // Maps of 64-bit word arrays start with one host entry holding an empty
    // array; every other kind starts empty.
    MultipleDevice() {
        if constexpr (std::is_same_v<T, DeviceSpecificArray<std::uint64_t>>)
            map_.emplace(kHostDevice, T());
    }
    // A map whose one entry is `host_value`, held for the host.
    explicit MultipleDevice(T host_value) { map_.emplace(kHostDevice, std::move(host_value)); }

    MultipleDevice(const MultipleDevice &other) {
        std::lock_guard<std::mutex> lock(other.mutex_);
        map_ = other.map_;
    }
    MultipleDevice &operator=(const MultipleDevice &other) {
        if (this != &other) {
            Map copy;
            {
                std::lock_guard<std::mutex> lock(other.mutex_);
                copy = other.map_;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            map_ = std::move(copy);
        }
        return *this;
    }

    // Throws std::out_of_range("map::at") for a device without a value.
    T &at(const Device &device) {
        std::lock_guard<std::mutex> lock(mutex_);
        return map_.at(device);
    }
    const T &at(const Device &device) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return map_.at(device);
    }

    bool contains(const Device &device) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return map_.count(device) != 0;
    }

    // Stores (or replaces) the value of a device.
    void set(const Device &device, T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        map_.insert_or_assign(device, std::move(value));
    }

    // Makes the value of `to` a copy of the value of `from` moved to `to`.
    // Complex tables already live on the host, so a host target is a no-op.
    void copyTo(const Device &from, const Device &to) {
        if constexpr (std::is_same_v<T, DeviceSpecificArray<std::complex<double>>>) {
            if (to == kHostDevice)
                return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        copyTo_(from, to);
    }

    // copyTo without taking the lock: the caller holds it (see mutex()).
    void copyTo_(const Device &from, const Device &to) {
        T copy = map_.at(from);
        detail::moveValueTo(copy, to);
        map_.insert_or_assign(to, std::move(copy));
    }

    // Ensures `to` has a value, copying the smallest device's value when absent.
    // The test and the copy form one critical section, so that two callers
    // never both install a copy. Throws RuntimeException "Value-device map is
    // empty." when there is nothing to copy, and what the move to `to` throws;
    // the map is unchanged then.
    void copyFromAnyDeviceTo(const Device &to) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (map_.count(to) == 0)
            copyFirstTo(to);
    }

    // Keeps only the value of `keep`, first copying the smallest device's value
    // there when `keep` has none.
    void removeExcept(const Device &keep) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (map_.count(keep) == 0)
            copyFirstTo(keep);
        eraseAllBut(keep);
    }

    // Makes `value` the only entry, held for `device`; every other entry is
    // destroyed. When storing the value throws (allocating the entry), the map
    // is unchanged.
    void resetTo(const Device &device, T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        map_.insert_or_assign(device, std::move(value));
        eraseAllBut(device);
    }

    std::size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return map_.size();
    }

    std::mutex &mutex() const { return mutex_; }

private:
    void eraseAllBut(const Device &keep) {
        for (auto it = map_.begin(); it != map_.end();) {
            if (it->first == keep)
                ++it;
            else
                it = map_.erase(it);
        }
    }

    void copyFirstTo(const Device &to) {
        if (map_.empty())
            throw RuntimeException("Value-device map is empty.");
        T copy = map_.begin()->second;
        detail::moveValueTo(copy, to);
        map_.insert_or_assign(to, std::move(copy));
    }

    Map map_;
    mutable std::mutex mutex_;
};

} // namespace Quelt
