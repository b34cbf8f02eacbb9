#pragma once
// Small move-only owners of Win32 handles: no leaks on early returns.
#include <windows.h>

#include <utility>

namespace vk::win {

// A kernel handle; NULL and INVALID_HANDLE_VALUE both mean none.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ScopedHandle(ScopedHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) { Reset(); h_ = std::exchange(o.h_, nullptr); }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(); }

  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return Valid(); }
  HANDLE Get() const { return h_; }
  HANDLE Release() { return std::exchange(h_, nullptr); }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// An open registry key.
class ScopedKey {
 public:
  ScopedKey() = default;
  explicit ScopedKey(HKEY k) : k_(k) {}
  ScopedKey(ScopedKey&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
  ScopedKey& operator=(ScopedKey&& o) noexcept {
    if (this != &o) { Reset(); k_ = std::exchange(o.k_, nullptr); }
    return *this;
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() { Reset(); }

  HKEY Get() const { return k_; }
  HKEY* Receive() { Reset(); return &k_; }
  explicit operator bool() const { return k_ != nullptr; }
  void Reset() {
    if (k_) RegCloseKey(k_);
    k_ = nullptr;
  }

 private:
  HKEY k_ = nullptr;
};

// A GDI object (font, brush, bitmap).
class ScopedGdiObject {
 public:
  ScopedGdiObject() = default;
  explicit ScopedGdiObject(HGDIOBJ o) : o_(o) {}
  ScopedGdiObject(ScopedGdiObject&& o) noexcept : o_(std::exchange(o.o_, nullptr)) {}
  ScopedGdiObject& operator=(ScopedGdiObject&& o) noexcept {
    if (this != &o) { Reset(); o_ = std::exchange(o.o_, nullptr); }
    return *this;
  }
  ScopedGdiObject(const ScopedGdiObject&) = delete;
  ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
  ~ScopedGdiObject() { Reset(); }

  HGDIOBJ Get() const { return o_; }
  void Reset(HGDIOBJ o = nullptr) {
    if (o_) DeleteObject(o_);
    o_ = o;
  }

 private:
  HGDIOBJ o_ = nullptr;
};

// Selects an object into a DC for one scope.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  ~SelectGuard() { SelectObject(dc_, old_); }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace vk::win
