// The differential test: tests/data/installer-cases.txt through the stand-in
// session must give what Windows Installer (Wine's msi.dll) gave, kept in
// tests/data/installer-cases.wine.txt. scripts/run-wine-installer-cases.sh
// checks that file against a fresh run under Wine.
//
// Where Wine's msi.dll departs from Windows Installer's documentation the
// stand-in follows the documentation; each such case is listed below with
// both results and the documented behaviour that decides it.
//
// After it, the condition and formatting engines over a context of our own
// making, for what the package under Wine cannot give, and hostile inputs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/posix/msi/Condition.h"
#include "platform/posix/msi/FormatRecord.h"
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

// The condition and formatting engines over an installer context of our own
// making: states, paths and texts that the package under Wine cannot give
// (advertised and source states, short paths, other scripts), and inputs
// that must neither crash nor take long. InstallerCasesTest holds the many
// cases that are checked against Windows Installer.
using platform::posix::EvaluateConditionText;
using platform::posix::FormatRecordFields;
using platform::posix::InstallerContext;
using platform::posix::ItemState;

class MapContext : public InstallerContext {
public:
    std::map<std::u16string, std::u16string> properties, environment, componentDirectories;
    std::map<std::u16string, ItemState> components, features;
    std::map<std::u16string, std::pair<std::u16string, std::u16string>> files;

    std::u16string Property(const std::u16string& name) const override {
        const auto it = properties.find(name);
        return it == properties.end() ? std::u16string() : it->second;
    }
    bool Environment(const std::u16string& name, std::u16string* value) const override {
        return Find(environment, name, value);
    }
    bool ComponentState(const std::u16string& name, ItemState* state) const override {
        return Find(components, name, state);
    }
    bool FeatureState(const std::u16string& name, ItemState* state) const override {
        return Find(features, name, state);
    }
    bool FilePath(const std::u16string& key, bool shortName, std::u16string* path) const override {
        std::pair<std::u16string, std::u16string> paths;
        if (!Find(files, key, &paths)) return false;
        *path = shortName ? paths.second : paths.first;
        return true;
    }
    bool ComponentDirectory(const std::u16string& name, std::u16string* path) const override {
        return Find(componentDirectories, name, path);
    }

private:
    template <typename Map, typename Value>
    static bool Find(const Map& map, const std::u16string& key, Value* value) {
        const auto it = map.find(key);
        if (it == map.end()) return false;
        *value = it->second;
        return true;
    }
};

MapContext MakeContext() {
    MapContext c;
    c.properties = {{u"T", u"1"}, {u"GREEK", u"αβγ"}, {u"CYR", u"Ёлка"}, {u"EMOJI", u"a\U0001F600b"},
                    {u"DIR", u"C:\\App\\"}};
    c.environment = {{u"HOME_DRIVE", u"C:"}};
    c.components = {{u"Adv", {platform::posix::kInstallStateAdvertised, platform::posix::kInstallStateSource}},
                    {u"Gone", {platform::posix::kInstallStateLocal, platform::posix::kInstallStateAbsent}}};
    c.features = {{u"Main", {platform::posix::kInstallStateAbsent, platform::posix::kInstallStateLocal}}};
    c.files = {{u"web", {u"C:\\Program Files\\App\\web.config", u"C:\\PROGRA~1\\App\\web.config"}}};
    c.componentDirectories = {{u"Adv", u"C:\\App\\"}};
    return c;
}

TEST(ConditionFormatTest, ConditionsReadEveryStateAndScript) {
    const MapContext context = MakeContext();
    const struct {
        const char16_t* condition;
        int expected;
    } cases[] = {
        {u"?Adv = 1", platform::kMsiConditionTrue},
        {u"$Adv = 4", platform::kMsiConditionTrue},
        {u"?Gone = 3 AND $Gone = 2", platform::kMsiConditionTrue},
        {u"!Main = 2 AND &Main = 3", platform::kMsiConditionTrue},
        {u"$Main", platform::kMsiConditionFalse},  // a feature, not a component
        {u"&Adv = \"\"", platform::kMsiConditionTrue},
        {u"GREEK ~= \"ΑΒΓ\"", platform::kMsiConditionTrue},
        {u"GREEK = \"ΑΒΓ\"", platform::kMsiConditionFalse},
        {u"CYR ~<< \"ёЛ\"", platform::kMsiConditionTrue},
        {u"EMOJI >< \"\U0001F600\"", platform::kMsiConditionTrue},
        {u"%HOME_DRIVE = \"C:\"", platform::kMsiConditionTrue},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EvaluateConditionText(context, c.condition), c.expected)
            << std::string(c.condition, c.condition + std::char_traits<char16_t>::length(c.condition));
    }
}

TEST(ConditionFormatTest, FormattingReadsPathsAndKeepsOtherScripts) {
    const MapContext context = MakeContext();
    const struct {
        std::vector<std::u16string> fields;
        std::u16string expected;
    } cases[] = {
        {{u"[#web]|[!web]"}, u"C:\\Program Files\\App\\web.config|C:\\PROGRA~1\\App\\web.config"},
        {{u"[$Adv]x[$Gone]"}, u"C:\\App\\x"},
        {{u"{[$Gone]x}y"}, u"y"},
        {{u"{[#web]}"}, u"{C:\\Program Files\\App\\web.config}"},  // a path is no property
        {{u"[GREEK][EMOJI]"}, u"αβγa\U0001F600b"},
        {{u"[\\α][%HOME_DRIVE]"}, u"αC:"},
        {{u"{[DIR][1]}", u"a"}, u"C:\\App\\a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatRecordFields(&context, c.fields), c.expected) << std::string(c.expected.begin(), c.expected.end());
    }
    // No context: fields only, however the rest looks.
    EXPECT_EQ(FormatRecordFields(nullptr, {u"[1][#web][\\[]{[T]}{[2]}", u"x"}), u"x[#web][\\[]{[T]}");
    EXPECT_EQ(FormatRecordFields(nullptr, {}), u"");
}

// Deep nesting is refused or kept as text: a package's text cannot exhaust
// the stack. (Slow inputs are the condition fuzz target's to find: no timed
// assertions here.)
TEST(ConditionFormatTest, HostileInputsEndQuickly) {
    const MapContext context = MakeContext();
    std::u16string nots;
    for (int i = 0; i < 150; ++i) nots += u"NOT ";
    EXPECT_EQ(EvaluateConditionText(context, nots + u"T"), platform::kMsiConditionTrue);
    EXPECT_EQ(EvaluateConditionText(context, std::u16string(150, u'(') + u"T" + std::u16string(150, u')')),
              platform::kMsiConditionTrue);
    EXPECT_EQ(EvaluateConditionText(context, std::u16string(100000, u'(') + u"T" + std::u16string(100000, u')')),
              platform::kMsiConditionError);
    for (int i = 0; i < 2000; ++i) nots += u"NOT ";
    EXPECT_EQ(EvaluateConditionText(context, nots + u"T"), platform::kMsiConditionError);

    const std::u16string deep = std::u16string(100000, u'[') + u"T" + std::u16string(100000, u']');
    const std::u16string formatted = FormatRecordFields(&context, {deep});
    EXPECT_EQ(formatted, u"");  // the outer levels still resolve: no such property
    std::u16string wide;
    for (int i = 0; i < 50000; ++i) wide += u"{[T]}[\\[][1]";
    EXPECT_EQ(FormatRecordFields(&context, {wide, u"x"}).size(), 50000u * 3);
    std::u16string unmatched(200000, u'[');
    EXPECT_EQ(FormatRecordFields(&context, {unmatched}), unmatched);
    // Escapes that no "]" ends: each once looked for one up to the end.
    std::u16string unended;
    for (int i = 0; i < 50000; ++i) unended += u"[\\a";
    EXPECT_EQ(FormatRecordFields(&context, {unended}), unended);
    std::u16string condition;
    for (int i = 0; i < 20000; ++i) condition += u"T AND ";
    EXPECT_EQ(EvaluateConditionText(context, condition + u"T"), platform::kMsiConditionTrue);
}

}  // namespace
