// Helpers of the Win32 backend: UTF-16 text between char16_t and wchar_t
// (both 16-bit on Windows) and owners for the handles it opens.
// Include after <windows.h>.
#pragma once

#include <string>
#include <utility>

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

inline const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline std::u16string U(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string U(const wchar_t* text) { return U(text, std::char_traits<wchar_t>::length(text)); }

// Owns a handle and releases it the way its Traits say.
template <typename Traits>
class Owned {
public:
    using Type = typename Traits::Type;

    Owned() = default;
    explicit Owned(Type value) : value_(value) {}
    ~Owned() { Reset(); }
    Owned(Owned&& other) noexcept : value_(std::exchange(other.value_, Traits::Empty())) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            Reset();
            value_ = std::exchange(other.value_, Traits::Empty());
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Type Get() const { return value_; }
    // For functions that return the handle through a pointer.
    Type* Out() {
        Reset();
        return &value_;
    }
    bool Valid() const { return value_ != Traits::Empty(); }
    void Reset() {
        if (Valid()) Traits::Release(value_);
        value_ = Traits::Empty();
    }

private:
    Type value_ = Traits::Empty();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return nullptr; }
    static void Release(HANDLE handle) { ::CloseHandle(handle); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Release(HANDLE handle) { ::CloseHandle(handle); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Release(HANDLE handle) { ::FindClose(handle); }
};
template <typename T>
struct LocalMemoryTraits {
    using Type = T;
    static T Empty() { return nullptr; }
    static void Release(T memory) { ::LocalFree(reinterpret_cast<HLOCAL>(memory)); }
};

using KernelHandle = Owned<KernelHandleTraits>;
using FileHandle = Owned<FileHandleTraits>;
using FindHandle = Owned<FindHandleTraits>;
template <typename T>
using LocalMemory = Owned<LocalMemoryTraits<T>>;

}  // namespace platform::win32
