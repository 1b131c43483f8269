// Owns one reference to a GObject (GTK widgets' and WebKit's objects, JSC
// values, GIO objects): released when the owner goes, whatever path it
// leaves by. For locals whose type has a cleanup function, g_autoptr does
// the same; this one also fits members, containers and return values.
#pragma once

#include <glib-object.h>

#include <utility>

namespace vesk {

template <typename T>
class ObjectRef {
 public:
  ObjectRef() = default;
  // Takes over |object|'s reference (what a "transfer full" call returns).
  explicit ObjectRef(T* object) : object_(object) {}
  // Adds a reference of its own to a borrowed |object|.
  static ObjectRef Share(T* object) {
    if (object) g_object_ref(object);
    return ObjectRef(object);
  }
  ~ObjectRef() { reset(); }
  ObjectRef(const ObjectRef&) = delete;
  ObjectRef& operator=(const ObjectRef&) = delete;
  ObjectRef(ObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ObjectRef& operator=(ObjectRef&& other) noexcept {
    if (this != &other) reset(std::exchange(other.object_, nullptr));
    return *this;
  }

  // Takes over |object|'s reference, releasing the one held before.
  void reset(T* object = nullptr) {
    T* old = std::exchange(object_, object);
    if (old) g_object_unref(old);
  }
  T* get() const { return object_; }
  // Hands the reference over to the caller.
  [[nodiscard]] T* release() { return std::exchange(object_, nullptr); }
  // A new reference for a caller that takes one.
  [[nodiscard]] T* ref() const { return object_ ? static_cast<T*>(g_object_ref(object_)) : nullptr; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace vesk
