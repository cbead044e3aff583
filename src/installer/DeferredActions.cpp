#include "installer/DeferredActions.h"

#include <memory>

#include "custact/XML/src/xml/XmlCollect.h"
#include "custact/XML/src/xml/XmlTransactions.h"
#include "installer/CustomActionData.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Msi.h"
#include "platform/os/SystemInfo.h"

namespace {

using Operation = std::uint32_t (*)(XmlManager&);

// The shared frame. An exception that escapes collecting or the operation
// is reported; it fails only the install run, whose result counts.
// Commit and rollback work on whole files: they need no element records.
std::uint32_t RunDeferred(InstallerHandle install, const char16_t* name, Operation operation, bool resultCounts,
                          bool withElements = true) {
    LogSession logging(install);
    std::uint32_t result = platform::kErrorSuccess;
    try {
        // Read first: the data says what the log may show.
        auto reader = std::make_unique<XmlUpdateDataReader>(install);
        reader->Parse();
        const LogSettings settings = ReadLogSettings(*reader);
        logging.Hide(settings.hiddenValues);
        if (settings.silent) logging.Silence();
        LogIfEnabled(WideString(name) + u" start.");
        Wow64RedirectionOff redirection;
        XmlManager manager(install);
        CollectXmlData(manager, *reader, withElements);
        // The manager holds what it needs: the text and its rows go before
        // the files are read.
        reader.reset();
        result = operation(manager);
        LogIfEnabled(WideString(name) + u" end.");
    } catch (...) {
        ReportCurrentException(install);
        result = platform::kErrorInstallFailure;
    }
    return resultCounts ? result : platform::kErrorSuccess;
}

std::uint32_t Install(XmlManager& manager) { return ExecuteXmlUpdates(manager, XML_UPDATE_INSTALL); }
std::uint32_t Uninstall(XmlManager& manager) { return ExecuteXmlUpdates(manager, XML_UPDATE_UNINSTALL); }
std::uint32_t Rollback(XmlManager& manager) { return static_cast<std::uint32_t>(RollbackXmlUpdates(manager)); }
std::uint32_t Commit(XmlManager& manager) { return static_cast<std::uint32_t>(CommitXmlUpdates(manager)); }

}  // namespace

std::uint32_t RunXmlConfig(InstallerHandle install) { return RunDeferred(install, u"OnXmlConfig", Install, true); }
std::uint32_t RunXmlRemove(InstallerHandle install) { return RunDeferred(install, u"OnXmlRemove", Uninstall, false); }
std::uint32_t RunXmlRollback(InstallerHandle install) {
    return RunDeferred(install, u"OnXmlRollback", Rollback, false, false);
}
std::uint32_t RunXmlCommit(InstallerHandle install) {
    return RunDeferred(install, u"OnXmlCommit", Commit, false, false);
}
