// The case list that runs both through Windows Installer (Wine's msi.dll, by
// tests/wine/InstallerCasesMain.cpp) and through the POSIX stand-in session
// (tests/posix/InstallerCasesTest.cpp), so that the two can be compared.
//
// tests/data/installer-cases.txt holds one directive or case a line, its
// parts separated by tabs; <U+XXXX> stands for any character (a tab, NUL).
//   property NAME VALUE          sets a property (an empty value unsets it)
//   env NAME VALUE               sets an environment variable of the process
//   component NAME INSTALLED ACTION   sets the action state; the installed
//   feature NAME INSTALLED ACTION     state is what the package gives
//   file KEY LONG SHORT          what [#KEY] and [!KEY] read in the stand-in
//   componentdir NAME DIR        what [$NAME] reads in the stand-in
//   cond TEXT                    MsiEvaluateConditionW
//   format TEMPLATE FIELD...     MsiFormatRecordW with the session;
//                                <null> leaves a field null
//   format0 TEMPLATE FIELD...    the same without an installer handle
//   install PROPERTIES           Windows Installer only: install the package
//                                with these properties before opening it,
//                                so that installed states are not all absent
// Lines starting with # and empty lines are ignored.
//
// Running the list gives one result line per case and per state directive,
// "KEYWORD<TAB>ARGS...<TAB>=> RESULT"; Windows Installer's lines are kept in
// tests/data/installer-cases.wine.txt.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace test {

struct InstallerCase {
    int line = 0;
    std::string keyword;
    std::vector<std::u16string> args;
};

// False (with a message naming the line) for an unreadable file or line.
bool ReadInstallerCases(const std::string& path, std::vector<InstallerCase>* cases, std::string* error);

// What the list needs of an installer session.
class InstallerCaseTarget {
public:
    virtual ~InstallerCaseTarget() = default;
    virtual void SetProperty(const std::u16string& name, const std::u16string& value) = 0;
    virtual void SetEnvironment(const std::u16string& name, const std::u16string& value) = 0;
    // Set the action state; answer "INSTALLED ACTION" as the session then has it.
    virtual std::string SetComponent(const std::u16string& name, int installed, int action) = 0;
    virtual std::string SetFeature(const std::u16string& name, int installed, int action) = 0;
    // Only the stand-in needs these; Windows Installer finds them in the package.
    virtual void SetFile(const std::u16string& key, const std::u16string& longPath, const std::u16string& shortPath) = 0;
    virtual void SetComponentDirectory(const std::u16string& component, const std::u16string& directory) = 0;
    virtual int Evaluate(const std::u16string& condition) = 0;
    // Field 0 is the template. *error receives the result code.
    virtual std::u16string Format(bool withSession, const std::vector<std::optional<std::u16string>>& fields,
                                  unsigned* error) = 0;
};

// Result lines, in list order.
std::vector<std::string> RunInstallerCases(const std::vector<InstallerCase>& cases, InstallerCaseTarget& target);

// The KEYWORD<TAB>ARGS part of a result line, to match a case.
std::string CaseKey(const InstallerCase& c);

// Characters below U+0020 and U+007F as <U+XXXX>; Unescape reads the notation back.
std::string Escape(const std::u16string& text);
std::u16string Unescape(const std::u16string& text);

}  // namespace test
