#pragma once

#include "Quelt/Exception.hpp"

#include <memory>
#include <utility>

namespace Quelt {

// Owning pointer of a data facade's implementation. Copy construction clones
// the object, copy assignment assigns member by member into the object already
// held (so its storage is reused), moving hands the object over.
//
// A moved-from pointer holds nothing; using it as anything but the target of
// an assignment throws RuntimeException instead of dereferencing null.
template <typename T>
class Pointer {
public:
    explicit Pointer(T *object) : object_(object) {}
    explicit Pointer(std::unique_ptr<T> object) : object_(std::move(object)) {}

    Pointer(Pointer &&other) noexcept = default;
    // Takes other's object, then destroys the one held before. Assigning a
    // pointer to itself keeps its object.
    Pointer &operator=(Pointer &&other) noexcept {
        if (this != &other) {
            std::unique_ptr<T> old = std::move(object_);
            object_ = std::move(other.object_);
        }
        return *this;
    }

    Pointer(const Pointer &other) : object_(std::make_unique<T>(other.get())) {}
    Pointer &operator=(const Pointer &other) {
        if (this == &other)
            return *this;
        if (object_)
            *object_ = other.get();
        else
            object_ = std::make_unique<T>(other.get());
        return *this;
    }

    ~Pointer() = default;

    T &operator*() { return get(); }
    const T &operator*() const { return get(); }
    T *operator->() { return &get(); }
    const T *operator->() const { return &get(); }

    bool isEmpty() const { return object_ == nullptr; }

    static constexpr const char *kEmptyMessage =
        "[Pointer] The object has been moved from and holds no data.";

private:
    T &get() const {
        if (!object_)
            throw RuntimeException(kEmptyMessage);
        return *object_;
    }

    std::unique_ptr<T> object_;
};

} // namespace Quelt
