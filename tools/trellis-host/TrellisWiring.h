// What a package needs to run Trellis, shared by `trellis-host check`, which
// looks for it, and `trellis-host add`, which puts it in: the custom actions
// with their types and entry points, the Binary row, the Error numbers, and
// the definitions of the tables (tables/*.idt, built into the program).
#pragma once

#include <string>
#include <vector>

#include "IdtFile.h"

namespace host {

struct TrellisAction {
    const char16_t* name;    // in a merge module followed by "." and the module id
    int type;
    const char16_t* target;  // the entry point
    bool immediate;          // sequenced; the others are scheduled by the immediate ones
    const char* role;        // what it does, for messages
};

// QM_XmlInstall, QM_XmlUninstall, QM_XmlConfig, QM_XmlRollback, QM_XmlCommit, QM_XmlRemove.
const std::vector<TrellisAction>& XmlActions();
// QM_XmlLocator: type 1, or 65 (1 + ignore the result), which says the same.
const TrellisAction& LocatorAction();
constexpr int kLocatorActionQuietType = 65;

constexpr char16_t kTrellisBinary[] = u"TrellisDll";
constexpr int kFirstTrellisError = 4110;
constexpr int kLastTrellisError = 4119;

struct IdtText {
    const char* table;
    const char* text;
};
// tables/*.idt: the six tables' definitions, without rows.
const std::vector<IdtText>& TrellisTableDefinitions();
const IdtText* FindTrellisTable(const std::string& table);
// The Error rows 4110 to 4119 with the wording of the example package.
const char* DefaultErrorTableText();

}  // namespace host
