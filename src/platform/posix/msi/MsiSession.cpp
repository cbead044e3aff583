// Session functions of the POSIX Windows Installer stand-in: properties,
// actions, modes, conditions, formatting and messages.
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace platform {

using posix::InstallerSession;
using posix::msi::Find;
using posix::msi::FindSession;
using posix::msi::Record;

std::uint32_t MsiGetPropertyW(MSIHANDLE install, const char16_t* name, char16_t* value, std::uint32_t* length) {
    InstallerSession* session = FindSession(install);
    if (session == nullptr) return kErrorInvalidHandle;
    if (name == nullptr || length == nullptr) return kErrorInvalidParameter;
    // CustomActionData may run to megabytes, and a caller asks twice.
    static const std::u16string kUnset;
    const std::u16string* text = session->FindProperty(name);
    return posix::msi::CopyOut(text != nullptr ? *text : kUnset, value, length);
}

std::uint32_t MsiSetPropertyW(MSIHANDLE install, const char16_t* name, const char16_t* value) {
    InstallerSession* session = FindSession(install);
    if (session == nullptr) return kErrorInvalidHandle;
    if (name == nullptr) return kErrorInvalidParameter;
    std::u16string text = posix::msi::FromApi(value);
    if (*name == u'\0') return kErrorFunctionFailed;  // as msi.dll, even for an empty value
    session->SetProperty(name, std::move(text));
    return kErrorSuccess;
}

std::uint32_t MsiDoActionW(MSIHANDLE install, const char16_t* action) {
    InstallerSession* session = FindSession(install);
    if (session == nullptr) return kErrorInvalidHandle;
    if (action == nullptr) return kErrorInvalidParameter;
    return session->DoAction(action);
}

int MsiEvaluateConditionW(MSIHANDLE install, const char16_t* condition) {
    InstallerSession* session = FindSession(install);
    if (session == nullptr) return kMsiConditionError;
    if (condition == nullptr) return kMsiConditionNone;
    return posix::EvaluateCondition(*session, condition);
}

int MsiGetMode(MSIHANDLE install, int runMode) {
    InstallerSession* session = FindSession(install);
    return session != nullptr && session->GetMode(runMode) ? 1 : 0;
}

std::uint32_t MsiFormatRecordW(MSIHANDLE install, MSIHANDLE record, char16_t* result, std::uint32_t* length) {
    // Without an installer handle only the record fields are substituted.
    InstallerSession* session = nullptr;
    if (install != 0) {
        session = FindSession(install);
        if (session == nullptr) return kErrorInvalidHandle;
    }
    auto found = Find<Record>(record);
    if (!found) return kErrorInvalidHandle;
    if (length == nullptr) return kErrorInvalidParameter;
    const std::vector<std::u16string> fields = posix::msi::RecordTexts(*found);
    const std::u16string text =
        session != nullptr ? posix::FormatRecordText(*session, fields) : posix::msi::FormatFields(nullptr, fields);
    return posix::msi::CopyOut(text, result, length);
}

int MsiProcessMessage(MSIHANDLE install, std::uint32_t messageType, MSIHANDLE record) {
    // msi.dll answers -1 for a bad handle or parameter.
    InstallerSession* session = FindSession(install);
    if (session == nullptr) return -1;
    // The fields are read only when the session keeps them: a host that
    // does not sends its log lines on unread.
    const bool keeps = session->KeepsMessages();
    std::vector<std::u16string> texts;
    if (!posix::msi::WithObject<Record>(record, [&](Record& found) {
            if (keeps) texts = posix::msi::RecordTexts(found);
        })) {
        return -1;
    }
    return session->Message(messageType, std::move(texts));
}

}  // namespace platform
