// The differential test: tests/data/installer-cases.txt through the stand-in
// session must give what Windows Installer (Wine's msi.dll) gave, kept in
// tests/data/installer-cases.wine.txt. scripts/run-wine-installer-cases.sh
// checks that file against a fresh run under Wine.
//
// Where Wine's msi.dll departs from Windows Installer's documentation the
// stand-in follows the documentation; each such case is listed below with
// both results and the documented behaviour that decides it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/posix/msi/InstallerSession.h"
#include "support/InstallerCases.h"
#include "support/TestSession.h"

namespace {

using platform::posix::InstallerSession;
using platform::posix::ItemState;

struct KnownDifference {
    const char* key;  // the case as in the result lines: KEYWORD<TAB>ARGS
    const char* wine;
    const char* standIn;
    const char* reason;
};

const char kPrecedence[] =
    "Logical operators bind as in BASIC, from the tightest: NOT, AND, OR, XOR, EQV, IMP; Wine's msi.dll gives "
    "OR, XOR, EQV and IMP one level, left to right.";
const char kUnmatched[] =
    "A bracket without a partner is left in the text and the rest is formatted; Wine's msi.dll leaves the "
    "whole template as it is.";
const char kShortPath[] = "[!File] is the file's short path; Wine's msi.dll gives the long one.";
const char kNul[] = "[~] is a NUL character like any other; around it Wine's msi.dll loses text in these places.";
const char kCaseless[] =
    "A ~ comparison ignores case, of Ä and ä too; Wine's msi.dll folds only ASCII letters.";
const char kEmptyGroup[] =
    "A group with no property in brackets stays as it is, braces included, even {}; Wine's msi.dll drops {}.";

const KnownDifference kKnownDifferences[] = {
    {"cond\tT XOR T OR T", "1", "0", kPrecedence},
    {"cond\tUNSET IMP T EQV UNSET", "0", "1", kPrecedence},
    {"cond\tUNSET EQV UNSET OR T", "1", "0", kPrecedence},
    {"cond\tUNSET IMP UNSET XOR T", "0", "1", kPrecedence},
    {"cond\tP_UML ~= \"äpfel\"", "0", "1", kCaseless},
    {"format\t[[T]", "\"[[T]\"", "\"[1\"", kUnmatched},
    {"format\t[T][", "\"[T][\"", "\"1[\"", kUnmatched},
    {"format\t[1] [\tx", "\"[1] [\"", "\"x [\"", kUnmatched},
    {"format\ta [ b [T]", "\"a [ b [T]\"", "\"a [ b 1\"", kUnmatched},
    {"format0\t[1] [\tx", "\"[1] [\"", "\"x [\"", kUnmatched},
    {"format\t[!File_Main]", "\"C:\\Program Files (x86)\\Trellis\\main file.txt\"",
     "\"C:\\PROGRA~2\\Trellis\\MAINFI~1.TXT\"", kShortPath},
    {"format\t[1]\ta[~]b", "\"a\"", "\"a<U+0000>b\"", kNul},
    {"format\t{[~]}", "\"}\"", "\"{<U+0000>}\"", kNul},
    {"format\t{[~][T]}", "\"<U+0000>}\"", "\"<U+0000>1\"", kNul},
    {"format\t[[~]]", "\"]\"", "\"\"", kNul},
    {"format\t{}", "\"\"", "\"{}\"", kEmptyGroup},
    {"format0\t{}", "\"\"", "\"{}\"", kEmptyGroup},
};

std::string DataPath(const std::string& name) { return std::string(TRELLIS_TEST_DATA_DIR) + "/" + name; }

class StandInTarget : public test::InstallerCaseTarget {
public:
    explicit StandInTarget(InstallerSession& session) : session_(session) {}
    ~StandInTarget() override {
        for (const std::string& name : environment_) ::unsetenv(name.c_str());
    }

    void SetProperty(const std::u16string& name, const std::u16string& value) override {
        session_.SetProperty(name, value);
    }
    void SetEnvironment(const std::u16string& name, const std::u16string& value) override {
        const std::string key = strings::ToUtf8(name);
        if (value.empty()) {
            ::unsetenv(key.c_str());
        } else {
            ::setenv(key.c_str(), strings::ToUtf8(value).c_str(), 1);
        }
        environment_.push_back(key);
    }
    std::string SetComponent(const std::u16string& name, int installed, int action) override {
        session_.SetComponentState(name, ItemState{installed, action});
        return std::to_string(installed) + " " + std::to_string(action);
    }
    std::string SetFeature(const std::u16string& name, int installed, int action) override {
        session_.SetFeatureState(name, ItemState{installed, action});
        return std::to_string(installed) + " " + std::to_string(action);
    }
    void SetFile(const std::u16string& key, const std::u16string& longPath, const std::u16string& shortPath) override {
        session_.SetFilePath(key, longPath, shortPath);
    }
    void SetComponentDirectory(const std::u16string& component, const std::u16string& directory) override {
        session_.SetComponentDirectory(component, directory);
    }
    int Evaluate(const std::u16string& condition) override {
        return platform::MsiEvaluateConditionW(session_.Handle(), condition.c_str());
    }
    std::u16string Format(bool withSession, const std::vector<std::optional<std::u16string>>& fields,
                          unsigned* error) override {
        const platform::MSIHANDLE record = platform::MsiCreateRecord(static_cast<std::uint32_t>(fields.size() - 1));
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i]) platform::MsiRecordSetStringW(record, static_cast<std::uint32_t>(i), fields[i]->c_str());
        }
        const platform::MSIHANDLE install = withSession ? session_.Handle() : 0;
        std::uint32_t length = 0;
        std::u16string text;
        std::uint32_t rc = platform::MsiFormatRecordW(install, record, nullptr, &length);
        if (rc == platform::kErrorMoreData || rc == platform::kErrorSuccess) {
            text.assign(length + 1, u'\0');
            std::uint32_t size = length + 1;
            rc = platform::MsiFormatRecordW(install, record, text.data(), &size);
            text.resize(size);
        }
        platform::MsiCloseHandle(record);
        *error = rc;
        return text;
    }

private:
    InstallerSession& session_;
    std::vector<std::string> environment_;
};

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// "KEY\t=> RESULT" into its two parts.
bool SplitResult(const std::string& line, std::string* key, std::string* result) {
    const std::size_t arrow = line.rfind("\t=> ");
    if (arrow == std::string::npos) return false;
    *key = line.substr(0, arrow);
    *result = line.substr(arrow + 4);
    return true;
}

TEST(InstallerCasesTest, StandInAgreesWithWindowsInstaller) {
    std::vector<test::InstallerCase> cases;
    std::string error;
    ASSERT_TRUE(test::ReadInstallerCases(DataPath("installer-cases.txt"), &cases, &error)) << error;
    const std::vector<std::string> wine = ReadLines(DataPath("installer-cases.wine.txt"));

    InstallerSession session;
    ASSERT_TRUE(session.OpenDatabase(test::FixturePath("conditions")));
    std::vector<std::string> standIn;
    {
        StandInTarget target(session);
        standIn = test::RunInstallerCases(cases, target);
    }
    ASSERT_EQ(standIn.size(), wine.size())
        << "installer-cases.wine.txt does not match the case list; regenerate it with "
           "scripts/run-wine-installer-cases.sh --update";

    std::map<std::string, const KnownDifference*> known;
    for (const KnownDifference& k : kKnownDifferences) known[k.key] = &k;
    std::size_t conditions = 0, formats = 0, differences = 0;
    for (std::size_t i = 0; i < wine.size(); ++i) {
        std::string key, expected, wineKey, actual;
        ASSERT_TRUE(SplitResult(wine[i], &wineKey, &expected)) << wine[i];
        ASSERT_TRUE(SplitResult(standIn[i], &key, &actual)) << standIn[i];
        ASSERT_EQ(key, wineKey) << "installer-cases.wine.txt is out of date at its line " << i + 1;
        conditions += key.rfind("cond\t", 0) == 0;
        formats += key.rfind("format", 0) == 0;
        const auto k = known.find(key);
        if (k == known.end()) {
            EXPECT_EQ(actual, expected) << key;
            continue;
        }
        ++differences;
        EXPECT_EQ(expected, k->second->wine) << "Windows Installer's result changed for a known difference: " << key;
        EXPECT_EQ(actual, k->second->standIn) << key << "\n" << k->second->reason;
        known.erase(k);
    }
    for (const auto& unused : known) ADD_FAILURE() << "known difference with no case: " << unused.first;
    EXPECT_GE(conditions + formats, 200u);
    RecordProperty("differences", static_cast<int>(differences));
}

}  // namespace
