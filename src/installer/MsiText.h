// Reading installer texts with the two-call pattern, and closing installer
// handles exactly once.
#pragma once

#include <cstdint>
#include <functional>

#include "installer/WideString.h"
#include "platform/Msi.h"

using InstallerHandle = platform::MSIHANDLE;

// Owns one installer handle (record, view or database) and closes it.
class MsiHandle {
public:
    MsiHandle() = default;
    explicit MsiHandle(InstallerHandle handle) : handle_(handle) {}
    ~MsiHandle() { Reset(); }
    MsiHandle(MsiHandle&& other) noexcept : handle_(other.Release()) {}
    MsiHandle& operator=(MsiHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;

    InstallerHandle Get() const { return handle_; }
    InstallerHandle* Receive() { Reset(); return &handle_; }
    InstallerHandle Release() {
        const InstallerHandle h = handle_;
        handle_ = 0;
        return h;
    }
    void Reset(InstallerHandle handle = 0) {
        if (handle_ != 0) platform::MsiCloseHandle(handle_);
        handle_ = handle;
    }
    explicit operator bool() const { return handle_ != 0; }

private:
    InstallerHandle handle_ = 0;
};

// One call of a text getter: (buffer, in/out length) -> Windows error code.
using TextGetter = std::function<std::uint32_t(char16_t* buffer, std::uint32_t* length)>;

// Asks with an empty buffer first, then, on ERROR_MORE_DATA, with the
// returned length plus one. Any other result gives an empty text.
WideString ReadInstallerText(const TextGetter& get);

WideString GetInstallerProperty(InstallerHandle install, const WideString& name);
WideString GetRecordString(InstallerHandle record, std::uint32_t field);
WideString FormatInstallerRecord(InstallerHandle install, InstallerHandle record);

// The text as a field value that comes out of the installer's formatting
// unchanged. Windows Installer formats a message's field values once more
// before it logs or shows them, so "[NAME]" in a value would become the
// property's value and "{{text}}" would vanish; every bracket and brace is
// written as the escape "[\c]", which stands for the character c.
WideString EscapeForFormatting(const WideString& text);
// The same at the end of out.
void AppendEscapedForFormatting(WideString& out, std::u16string_view text);
