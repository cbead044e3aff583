// What the entry points need to know about the system they run on.
#pragma once

struct SystemInfo {
    // A 32-bit process under WOW64: file-system redirection must be switched
    // off before touching the product's files.
    bool is64BitWindows = false;

    // Computed once per process.
    static const SystemInfo& Get();
};

// Switches WOW64 file-system redirection off for its lifetime when the
// system is 64-bit; does nothing at all on 32-bit Windows.
class Wow64RedirectionOff {
public:
    Wow64RedirectionOff();
    ~Wow64RedirectionOff();
    Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
    Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;

    bool Disabled() const { return disabled_; }

private:
    void* oldValue_ = nullptr;
    bool disabled_ = false;
};
