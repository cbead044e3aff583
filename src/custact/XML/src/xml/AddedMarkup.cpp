#include "custact/XML/src/xml/AddedMarkup.h"

#include <algorithm>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlUpdateData.h"
#include "platform/os/RegistryKey.h"

namespace {

constexpr char16_t kValuePrefix[] = u"AddedMarkup|";
constexpr char16_t kComment[] = u"C";
constexpr char16_t kEmptyElement[] = u"E";
constexpr char16_t kEndTag[] = u"T";

WideString Escape(std::u16string_view field) {
    WideString out;
    for (char16_t c : field) {
        switch (c) {
        case u'\\': out += u"\\\\"; break;
        case u'\t': out += u"\\t"; break;
        case u'\r': out += u"\\r"; break;
        case u'\n': out += u"\\n"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

// The fields of one line, unescaped.
std::vector<WideString> SplitLine(std::u16string_view line) {
    std::vector<WideString> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (c == u'\t') {
            fields.emplace_back();
        } else if (c == u'\\' && i + 1 < line.size()) {
            const char16_t e = line[++i];
            fields.back().push_back(e == u't' ? u'\t' : e == u'r' ? u'\r' : e == u'n' ? u'\n' : e);
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

bool SameComment(const AddedComment& a, const AddedComment& b) { return a.parent == b.parent && a.text == b.text; }

WideString ValueName(const WideString& targetPath) { return kValuePrefix + targetPath; }

// What the record was before the run: "-" for none, else "=" and the record.
WideString RunValueName(const WideString& targetPath, const WideString& runId) {
    return RunRecordName(ValueName(targetPath), runId);
}

}  // namespace

WideString FormatAddedMarkup(const AddedMarkup& added) {
    WideString text;
    for (const AddedComment& c : added.comments) {
        text += WideString(kComment) + u"\t" + Escape(c.parent) + u"\t" + Escape(c.text) + u"\n";
    }
    for (const RewrittenEnd& e : added.ends) {
        text += WideString(e.wasEmpty ? kEmptyElement : kEndTag) + u"\t" + Escape(e.element) + u"\t" +
                ToWideDecimal(e.children) + u"\t" + Escape(e.tail) + u"\n";
    }
    return text;
}

AddedMarkup ParseAddedMarkup(std::u16string_view text) {
    AddedMarkup added;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        const std::vector<WideString> f = SplitLine(text.substr(start, end - start));
        start = end + 1;
        if (f.size() == 3 && f[0] == kComment) {
            added.comments.push_back({f[1], f[2]});
        } else if (f.size() == 4 && (f[0] == kEmptyElement || f[0] == kEndTag) && !f[1].empty()) {
            added.ends.push_back({f[1], f[0] == kEmptyElement, ToRecordInteger(f[2]), f[3]});
        }
    }
    return added;
}

void RecordAddedMarkup(const WideString& productKey, const WideString& runId, const WideString& targetPath,
                       const AddedMarkup& added) {
    if (added.Empty()) return;
    RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, true);
    if (!key.Create()) return;
    WideString before, saved;
    const bool recorded = key.QueryString(ValueName(targetPath), &before) == platform::kRegSuccess;
    const WideString runValue = RunValueName(targetPath, runId);
    if (key.QueryString(runValue, &saved) == platform::kRegFileNotFound)
        key.WriteString(runValue, recorded ? u"=" + before : WideString(u"-"));
    AddedMarkup all = ParseAddedMarkup(before);
    for (const AddedComment& c : added.comments) {
        if (std::none_of(all.comments.begin(), all.comments.end(),
                         [&](const AddedComment& known) { return SameComment(known, c); }))
            all.comments.push_back(c);
    }
    for (const RewrittenEnd& e : added.ends) {
        if (std::none_of(all.ends.begin(), all.ends.end(),
                         [&](const RewrittenEnd& known) { return known.element == e.element; }))
            all.ends.push_back(e);
    }
    key.WriteString(ValueName(targetPath), FormatAddedMarkup(all));
}

void RollBackAddedMarkup(const WideString& productKey, const WideString& runId, const WideString& targetPath) {
    RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, true);
    const WideString runValue = RunValueName(targetPath, runId);
    WideString saved;
    if (!key.IsOpen() || key.QueryString(runValue, &saved) != platform::kRegSuccess) return;
    if (!saved.empty() && saved[0] == u'=') {
        key.WriteString(ValueName(targetPath), saved.substr(1));
    } else {
        key.DeleteValue(ValueName(targetPath));
    }
    key.DeleteValue(runValue);
}

void CommitAddedMarkup(const WideString& productKey, const WideString& runId, const WideString& targetPath) {
    RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, true);
    if (key.IsOpen()) key.DeleteValue(RunValueName(targetPath, runId));
}

AddedMarkup ReadAddedMarkup(const WideString& productKey, const WideString& targetPath) {
    const RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, false);
    if (!key.IsOpen()) return {};
    return ParseAddedMarkup(key.ReadString(ValueName(targetPath)));
}

void ForgetAddedMarkup(const WideString& productKey, const WideString& targetPath) {
    RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, true);
    if (key.IsOpen()) key.DeleteValue(ValueName(targetPath));
}
