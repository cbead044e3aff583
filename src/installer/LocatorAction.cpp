#include "installer/LocatorAction.h"

#include <algorithm>

#include "custact/XML/src/xmllocator/XmlLocatorManager.h"
#include "installer/CustomActionData.h"
#include "installer/Logger.h"
#include "installer/ModuleScope.h"
#include "platform/Msi.h"
#include "platform/os/SystemInfo.h"

namespace {

// The locator tables as one text, without a property section. Inside a
// merge module only its own element rows are kept, in the main package
// only the package's; locators of the rows left out find no element.
WideString SerializeLocatorTables(InstallerHandle install, const ModuleIdScope& scope) {
    MsiTableReader reader(install);
    WideString text;
    for (const TableSpec& table : LocatorTableSpecs()) {
        if (&table != &LocatorTableSpecs().front()) text.push_back(kSectionSeparator);
        reader.Query(table.name, table.orderBy, WideString());
        std::vector<TableRecord> rows = reader.Records();
        if (WideString(table.name) == u"QM_XmlLocatorElement") {
            rows.erase(std::remove_if(rows.begin(), rows.end(),
                                      [&](const TableRecord& row) {
                                          return scope.BelongsToOtherModule(row.Get(u"XmlElement"));
                                      }),
                       rows.end());
        }
        AppendTableSection(text, install, table, rows, RowMode::Uninstall, nullptr);
    }
    return text;
}

}  // namespace

std::uint32_t RunXmlLocator(InstallerHandle install) {
    LogSession logging(install);
    LogIfEnabled(u"OnXmlLocator start");
    Wow64RedirectionOff redirection;
    try {
        ModuleIdScope scope(install);
        XmlUpdateDataReader reader(SerializeLocatorTables(install, scope));
        reader.Parse();
        XmlLocatorManager manager(install);
        CollectXmlLocatorData(manager, reader);
        RunLocators(manager);
    } catch (...) {
        // Nothing is shown: like a search of the installer's own, a locator
        // that fails leaves its properties alone and the installation goes on.
        LogIfEnabled(u"OnXmlLocator failed: " + DescribeLocatorFailure());
    }
    LogIfEnabled(u"OnXmlLocator end.");
    return platform::kErrorSuccess;
}
