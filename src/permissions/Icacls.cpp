#include "permissions/Icacls.h"

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/Security.h"
#include "platform/os/FileSystem.h"

namespace {

WideString Quoted(const WideString& path) { return u"\"" + ToLongPath(path) + u"\""; }

}  // namespace

bool RunIcacls(const WideString& parameters) {
    std::uint32_t exitCode = 0;
    if (!platform::RunProcessAndWait(u"icacls", parameters, &exitCode)) {
        const std::uint32_t error = platform::GetLastError();
        LogIfEnabled(u"[ERR] icacls could not be started: " + parameters + u" LastError= " + ToWideUnsigned(error));
        return false;
    }
    LogIfEnabled(u"[INFO] icacls " + parameters + u" exited with " + ToWideUnsigned(exitCode));
    return exitCode == 0;
}

bool SaveAclWithIcacls(const WideString& objectPath, const WideString& filePath) {
    return RunIcacls(Quoted(objectPath) + u" /save " + Quoted(filePath) + u" /C");
}

bool RestoreAclWithIcacls(const WideString& folderPath, const WideString& filePath) {
    return RunIcacls(Quoted(folderPath) + u" /restore " + Quoted(filePath) + u" /C");
}

bool ResetFilePermissions(const WideString& objectPath) { return RunIcacls(Quoted(objectPath) + u" /reset /C"); }
