// An owning pointer to a GObject: one reference, dropped on destruction.
#pragma once

#include <glib-object.h>

#include <utility>

namespace vsim {

template <typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference the caller owns.
    explicit GObjectPtr(T* object) : object_(object) {}
    // Adds a reference of its own.
    static GObjectPtr Ref(T* object) { return GObjectPtr(object ? static_cast<T*>(g_object_ref(object)) : nullptr); }
    GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    ~GObjectPtr() { Reset(); }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset() {
        if (object_) g_object_unref(object_);
        object_ = nullptr;
    }

private:
    T* object_ = nullptr;
};

}  // namespace vsim
