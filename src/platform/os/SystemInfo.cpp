#include "platform/os/SystemInfo.h"

#include "platform/System.h"

const SystemInfo& SystemInfo::Get() {
    static const SystemInfo info = [] {
        SystemInfo result;
        result.is64BitWindows = platform::IsWow64Process();
        return result;
    }();
    return info;
}

Wow64RedirectionOff::Wow64RedirectionOff() {
    if (SystemInfo::Get().is64BitWindows) disabled_ = platform::Wow64DisableWow64FsRedirection(&oldValue_);
}

Wow64RedirectionOff::~Wow64RedirectionOff() {
    if (disabled_) platform::Wow64RevertWow64FsRedirection(oldValue_);
}
