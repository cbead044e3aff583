#include "installer/ImmediateActions.h"

#include "installer/CustomActionData.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "installer/ModuleScope.h"
#include "platform/Msi.h"
#include "platform/System.h"
#include "platform/os/SystemInfo.h"

namespace {

// A new braced GUID text, the id of one installation run.
WideString NewRunId() {
    platform::Guid guid;
    if (!platform::CoCreateGuid(&guid)) throw Exception(TRELLIS_HERE, u"Cannot make an id for this installation.");
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    // Data1, Data2 and Data3 are little-endian numbers, the rest bytes.
    static const int kOrder[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
    WideString text = u"{";
    for (int index : kOrder) {
        if (index < 0) {
            text.push_back(u'-');
            continue;
        }
        text.push_back(kDigits[guid[static_cast<std::size_t>(index)] >> 4]);
        text.push_back(kDigits[guid[static_cast<std::size_t>(index)] & 0x0F]);
    }
    return text + u"}";
}

WideString BuildXmlUpdateData(InstallerHandle install, RowMode mode, ConditionEvaluator* evaluator) {
    MsiTableReader reader(install);
    // The tables first: the property section says which hidden values they hold.
    const WideString tables = SerializeTables(reader, install, XmlTableSpecs(), mode, evaluator);
    WideString text;
    AppendPropertySection(install, text);
    AppendRunId(text, NewRunId());
    AppendLogSettings(text, install, tables);
    text.push_back(kSectionSeparator);
    text += tables;
    return text;
}

// The shared frame of the two immediate actions; an exception that escapes
// the reader or the writer is reported and fails the action.
std::uint32_t RunImmediate(InstallerHandle install, const char16_t* name, RowMode mode,
                           std::initializer_list<const char16_t*> actions) {
    LogSession logging(install);
    LogIfEnabled(WideString(name) + u" start.");
    try {
        ModuleConditionEvaluator evaluator(install);
        const WideString data = BuildXmlUpdateData(install, mode, &evaluator);
        for (const char16_t* action : actions) {
            if (!ScheduleAction(install, evaluator.Scope().Decorate(action), data))
                return platform::kErrorInstallFailure;
        }
    } catch (...) {
        ReportCurrentException(install);
        return platform::kErrorInstallFailure;
    }
    LogIfEnabled(WideString(name) + u" end.");
    return platform::kErrorSuccess;
}

}  // namespace

bool ScheduleAction(InstallerHandle install, const WideString& action, const WideString& data) {
    return platform::MsiSetPropertyW(install, action.c_str(), data.c_str()) == platform::kErrorSuccess &&
           platform::MsiDoActionW(install, action.c_str()) == platform::kErrorSuccess &&
           platform::MsiSetPropertyW(install, action.c_str(), u"") == platform::kErrorSuccess;
}

std::uint32_t RunXmlInstall(InstallerHandle install) {
    return RunImmediate(install, u"OnXmlInstall", RowMode::Install,
                        {u"QM_XmlRollback", u"QM_XmlCommit", u"QM_XmlConfig"});
}

std::uint32_t RunXmlUninstall(InstallerHandle install) {
    return RunImmediate(install, u"OnXmlUninstall", RowMode::Uninstall, {u"QM_XmlRemove"});
}

std::uint32_t RunTestXmlUpdateDataReader(InstallerHandle install) {
    LogSession logging(install);
    Wow64RedirectionOff redirection;
    try {
        const WideString data = BuildXmlUpdateData(install, RowMode::Install, nullptr);
        platform::MsiSetPropertyW(install, u"CustomActionData", data.c_str());
    } catch (...) {
        ReportCurrentException(install);
    }
    return platform::kErrorSuccess;
}
