// The condition and formatting engines over an installer context of our own
// making: states, paths and texts that the package under Wine cannot give
// (advertised and source states, short paths, other scripts), and inputs
// that must neither crash nor take long. InstallerCasesTest holds the many
// cases that are checked against Windows Installer.
#include <gtest/gtest.h>

#include <map>

#include "platform/Msi.h"
#include "platform/posix/msi/Condition.h"
#include "platform/posix/msi/FormatRecord.h"

namespace {

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
