#pragma once

#include <cstdint>

// Owns an object made by one of the factory functions and releases it with the matching
// destroy function (which takes the pointer by reference and nulls it).
template <typename T, int32_t (*Destroy)(T*&)>
class ScopedObject {
public:
    ScopedObject() = default;
    explicit ScopedObject(T* object) : object_(object) {}
    ScopedObject(const ScopedObject&) = delete;
    ScopedObject& operator=(const ScopedObject&) = delete;
    ~ScopedObject() { reset(); }

    void reset(T* object = nullptr) {
        if (object_ != nullptr) Destroy(object_);
        object_ = object;
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // For factory functions that hand the object out through a pointer argument.
    T** out() {
        reset();
        return &object_;
    }

private:
    T* object_ = nullptr;
};
