// A registry key that closes itself. The plain operations report no
// failures: a key that cannot be opened stays closed, reads give empty
// texts, writes give false. Callers that must tell "absent" from "cannot
// tell" use QueryString and LastStatus.
#pragma once

#include <cstdint>

#include "installer/WideString.h"
#include "platform/Registry.h"

class RegistryKey {
public:
    // Opens the key when it exists; a missing key is no error. Keys are
    // opened in the process's own registry view, without a transaction.
    RegistryKey(const WideString& subkey, platform::HKey root, bool writable);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool IsOpen() const { return handle_ != 0; }
    // Opens the key, creating it when missing, unless it is open already.
    bool Create();
    WideString ReadString(const WideString& valueName) const;
    // kRegSuccess with the text of a string value (other types read as
    // empty), kRegFileNotFound when the key or the value does not exist,
    // else the registry's error.
    long QueryString(const WideString& valueName, WideString* text) const;
    bool WriteString(const WideString& valueName, const WideString& text);
    bool DeleteValue(const WideString& valueName);
    // Without force a subkey that still holds values is left alone (and that
    // counts as success); a subkey with subkeys of its own is refused.
    bool DeleteSubkey(const WideString& name, bool force);
    std::uint32_t ValueCount() const;
    std::uint32_t SubkeyCount() const;
    void Close();
    // The registry's result of the last open, Create, write or deletion.
    long LastStatus() const { return status_; }

    const WideString& Subkey() const { return subkey_; }
    const WideString& FullName() const { return fullName_; }
    platform::HKey Handle() const { return handle_; }

    static WideString RootName(platform::HKey root);

private:
    bool Open(platform::HKey* handle, bool create);

    platform::HKey handle_ = 0;
    long status_ = platform::kRegSuccess;
    WideString subkey_;
    WideString fullName_;
    platform::HKey root_;
    std::uint32_t access_;
};
