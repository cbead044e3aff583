#include "TrellisWiring.h"

namespace host {

const std::vector<TrellisAction>& XmlActions() {
    static const std::vector<TrellisAction> actions = {
        {u"QM_XmlInstall", 1, u"OnXmlInstall", true, "the immediate action that plans an installation's changes"},
        {u"QM_XmlUninstall", 1, u"OnXmlUninstall", true, "the immediate action that plans an uninstallation's changes"},
        {u"QM_XmlConfig", 3073, u"OnXmlConfig", false, "the deferred action that changes the files"},
        {u"QM_XmlRollback", 3329, u"OnXmlRollback", false, "the rollback action that restores the files"},
        {u"QM_XmlCommit", 3585, u"OnXmlCommit", false, "the commit action that removes the backups"},
        {u"QM_XmlRemove", 3073, u"OnXmlRemove", false, "the deferred action that reverts the files"},
    };
    return actions;
}

const TrellisAction& LocatorAction() {
    static const TrellisAction action = {u"QM_XmlLocator", 1, u"OnXmlLocator", true,
                                         "the immediate action that reads the locator tables"};
    return action;
}

const IdtText* FindTrellisTable(const std::string& table) {
    for (const IdtText& idt : TrellisTableDefinitions()) {
        if (table == idt.table) return &idt;
    }
    return nullptr;
}

}  // namespace host
