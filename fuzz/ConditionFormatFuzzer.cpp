// Fuzzes the installer stand-in's condition evaluator and formatted text.
// The input is UTF-8 lines: a condition, a template, then the template's
// fields. Everything is evaluated against a fixed property set (whose values
// hold brackets of their own), with and without an installer context; the
// work is bounded by the input's size, which fuzz.sh keeps small.
#include <cstdint>
#include <map>

#include "FuzzSupport.h"
#include "installer/WideString.h"
#include "platform/Msi.h"
#include "platform/posix/msi/Condition.h"
#include "platform/posix/msi/FormatRecord.h"

namespace {

using platform::posix::InstallerContext;
using platform::posix::ItemState;

constexpr std::size_t kMaxFields = 16;
constexpr std::size_t kMaxInput = 1 << 16;

class FixedContext : public InstallerContext {
public:
    std::u16string Property(const std::u16string& name) const override {
        static const std::map<std::u16string, std::u16string> properties = {
            {u"A", u"1"},          {u"B", u"0"},         {u"T", u"text"},      {u"N", u"-5"},
            {u"BIG", u"2147483648"}, {u"REF", u"[A]"},   {u"NAME", u"A"},      {u"OPEN", u"["},
            {u"BRACE", u"{[A]}"},  {u"DIR", u"C:\\App\\"}, {u"GREEK", u"αβγ"}, {u"EMOJI", u"\U0001F600"},
            {u"SELF", u"[SELF]"},  {u"1", u"one"}};
        const auto it = properties.find(name);
        return it == properties.end() ? std::u16string() : it->second;
    }
    bool Environment(const std::u16string& name, std::u16string* value) const override {
        if (name != u"PATH") return false;
        *value = u"C:\\Windows";
        return true;
    }
    bool ComponentState(const std::u16string& name, ItemState* state) const override {
        if (name != u"C") return false;
        *state = {platform::posix::kInstallStateAbsent, platform::posix::kInstallStateLocal};
        return true;
    }
    bool FeatureState(const std::u16string& name, ItemState* state) const override {
        if (name != u"F") return false;
        *state = {platform::posix::kInstallStateLocal, platform::posix::kInstallStateAbsent};
        return true;
    }
    bool FilePath(const std::u16string& key, bool shortName, std::u16string* path) const override {
        if (key != u"f") return false;
        *path = shortName ? u"C:\\PROGRA~1\\f.txt" : u"C:\\Program Files\\f.txt";
        return true;
    }
    bool ComponentDirectory(const std::u16string& name, std::u16string* path) const override {
        if (name != u"C") return false;
        *path = u"C:\\App\\";
        return true;
    }
};

int Evaluate(const InstallerContext& context, const std::u16string& condition) {
    const int result = platform::posix::EvaluateConditionText(context, condition);
    if (result != platform::kMsiConditionTrue && result != platform::kMsiConditionFalse &&
        result != platform::kMsiConditionNone && result != platform::kMsiConditionError)
        fuzz::Fail("a condition gave " + std::to_string(result));
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return 0;
    const std::vector<std::string_view> lines =
        fuzz::Split(std::string_view(reinterpret_cast<const char*>(data), size), '\n');
    const FixedContext context;

    const std::u16string condition = Widen(lines[0]);
    const int result = Evaluate(context, condition);
    // A condition that holds or fails turns around under NOT, as long as the
    // extra level stays within the nesting the evaluator allows.
    if ((result == platform::kMsiConditionTrue || result == platform::kMsiConditionFalse) && condition.size() < 150) {
        const int negated = Evaluate(context, u"NOT (" + condition + u")");
        if (negated != (result == platform::kMsiConditionTrue ? platform::kMsiConditionFalse
                                                               : platform::kMsiConditionTrue))
            fuzz::Fail("NOT does not turn the condition around");
    }

    std::vector<std::u16string> fields;
    for (std::size_t i = 1; i < lines.size() && fields.size() <= kMaxFields; ++i) fields.push_back(Widen(lines[i]));
    const std::u16string formatted = platform::posix::FormatRecordFields(&context, fields);
    (void)platform::posix::FormatRecordFields(nullptr, fields);
    Evaluate(context, formatted);
    return 0;
}
