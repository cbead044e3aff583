#include "custact/XML/src/xml/XmlRecordCheck.h"

#include <unordered_set>

#include "custact/XML/src/xml/XmlUpdateFlags.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/XmlSyntax.h"

namespace {

constexpr std::size_t kShownLength = 100;

// "U+20AC": what a message shows for one character.
WideString CodePointText(char32_t character) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    WideString digits;
    for (auto value = static_cast<std::uint32_t>(character); value != 0 || digits.size() < 4; value >>= 4)
        digits.insert(digits.begin(), kDigits[value & 0xF]);
    return u"U+" + digits;
}

WideString Shorten(const WideString& text) {
    if (text.size() <= kShownLength) return text;
    return text.substr(0, kShownLength) + u"\u2026";
}

class ProblemList {
public:
    ProblemList(std::vector<XmlRowProblem>& out, std::size_t limit) : out_(out), limit_(limit) {}
    bool Full() const { return out_.size() >= limit_; }
    void Add(const char16_t* table, const WideString& row, const char16_t* column, const WideString& text,
             WideString reason) {
        if (!Full()) out_.push_back({table, row, column, Shorten(text), std::move(reason)});
    }

private:
    std::vector<XmlRowProblem>& out_;
    std::size_t limit_;
};

void CheckText(ProblemList& problems, const char16_t* table, const WideString& row, const char16_t* column,
               const WideString& text) {
    if (const auto bad = FindDisallowedXmlCharacter(text))
        problems.Add(table, row, column, text, u"holds " + CodePointText(*bad) + u", which XML does not allow");
}

void CheckName(ProblemList& problems, const char16_t* table, const WideString& row, const WideString& name) {
    if (!IsXmlName(name)) problems.Add(table, row, u"Name", name, u"is not an XML name");
}

void CheckRecord(ProblemList& problems, const XmlElementRecord& record) {
    if (record.flags & kXmlElementComment) {
        // A comment's name and attributes are never written.
        CheckText(problems, u"QM_XmlElement", record.key, u"Text", record.text);
        if (record.text.find(u"--") != WideString::npos) {
            problems.Add(u"QM_XmlElement", record.key, u"Text", record.text, u"holds \"--\", which a comment cannot");
        } else if (HasCommentDashes(record.text)) {
            problems.Add(u"QM_XmlElement", record.key, u"Text", record.text, u"ends with \"-\", which a comment cannot");
        }
        return;
    }
    CheckName(problems, u"QM_XmlElement", record.key, record.name);
    CheckText(problems, u"QM_XmlElement", record.key, u"Text", record.text);
    for (const XmlAttributeRecord& a : record.attributes) {
        CheckName(problems, u"QM_XmlAttribute", a.key, a.name);
        CheckText(problems, u"QM_XmlAttribute", a.key, u"Value", a.value);
    }
}

// A root row must have no parent; a parent that leads back to it is a loop.
void CheckRootHasNoParent(ProblemList& problems, const XmlElementRecord& root) {
    if (root.parent == nullptr) return;
    std::unordered_set<const XmlNodeRecord*> seen;
    const XmlNodeRecord* p = root.parent;
    while (p != nullptr && p != &root && seen.insert(p).second) p = p->parent;
    problems.Add(u"QM_XmlElement", root.key, u"ParentElement", root.parentKey,
                 p == &root ? u"leads back to this row in a loop of parent rows"
                            : u"gives the file's root element a parent (a root row has an empty ParentElement)");
}

void ThrowFirst(const XmlFileRecord& file, const std::vector<XmlRowProblem>& problems) {
    if (problems.empty()) return;
    const XmlRowProblem& p = problems.front();
    const WideString path = GetFullPath(file);
    LogIfEnabled(u"Rows that cannot be written leave " + path + u" unchanged: " + p.table + u"." + p.column +
                 u" of row '" + p.row + u"' " + p.reason + u": " + p.text);
    throw Exception(TRELLIS_HERE, 4118, {path, p.table, p.row, p.column, p.text, p.reason});
}

// Level order from the root; the first row of the level beyond the limit,
// if there is one, goes to tooDeep.
std::vector<XmlElementRecord*> LevelOrder(XmlUpdateData& data, XmlElementRecord& root, XmlElementRecord** tooDeep) {
    std::vector<XmlElementRecord*> out{&root};
    *tooDeep = nullptr;
    // Below a root without parent the rows form a tree: no loop can be met.
    if (root.parent != nullptr) return out;
    std::size_t levelStart = 0;
    for (int depth = 0; levelStart < out.size(); ++depth) {
        const std::size_t levelEnd = out.size();
        for (std::size_t i = levelStart; i < levelEnd; ++i) {
            const std::vector<XmlElementRecord*>& children = data.ChildrenOf(out[i]);
            if (children.empty()) continue;
            if (depth == kMaxRecordDepth) {
                *tooDeep = children.front();
                return out;
            }
            out.insert(out.end(), children.begin(), children.end());
        }
        levelStart = levelEnd;
    }
    return out;
}

}  // namespace

std::vector<XmlElementRecord*> RecordsInLevelOrder(XmlUpdateData& data, const XmlFileRecord& file) {
    if (file.root == nullptr) return {};
    XmlElementRecord* tooDeep = nullptr;
    return LevelOrder(data, *file.root, &tooDeep);
}

std::vector<XmlRowProblem> FindRowProblems(XmlUpdateData& data, const XmlFileRecord& file, std::size_t limit) {
    std::vector<XmlRowProblem> out;
    ProblemList problems(out, limit);
    if (file.root == nullptr) {
        problems.Add(u"QM_XmlFile", file.key, u"RootElement", file.rootElementKey, u"names no QM_XmlElement row");
        return out;
    }
    CheckRootHasNoParent(problems, *file.root);
    XmlElementRecord* tooDeep = nullptr;
    for (const XmlElementRecord* record : LevelOrder(data, *file.root, &tooDeep)) {
        if (problems.Full()) break;
        CheckRecord(problems, *record);
    }
    if (tooDeep != nullptr) {
        problems.Add(u"QM_XmlElement", tooDeep->key, u"ParentElement", tooDeep->parentKey,
                     u"nests more than " + ToWideDecimal(kMaxRecordDepth) + u" levels below the root element");
    }
    return out;
}

std::vector<XmlRowProblem> FindUnencodableRows(XmlUpdateData& data, const XmlFileRecord& file, XmlEncoding encoding,
                                               std::size_t limit) {
    std::vector<XmlRowProblem> out;
    ProblemList problems(out, limit);
    const WideString encodingName = XmlEncodingName(encoding);
    const auto check = [&](const char16_t* table, const WideString& row, const char16_t* column,
                           const WideString& text) {
        if (const auto character = FirstUnencodable(encoding, text))
            problems.Add(table, row, column, text,
                         u"holds " + CodePointText(*character) + u", which " + encodingName + u" cannot hold");
    };
    for (const XmlElementRecord* record : RecordsInLevelOrder(data, file)) {
        if (problems.Full()) break;
        if (record->flags & kXmlElementComment) {
            check(u"QM_XmlElement", record->key, u"Text", record->text);
            continue;
        }
        check(u"QM_XmlElement", record->key, u"Name", record->name);
        for (const XmlAttributeRecord& a : record->attributes) check(u"QM_XmlAttribute", a.key, u"Name", a.name);
    }
    return out;
}

std::vector<XmlRowProblem> FindNewFileProblems(const XmlFileRecord& file) {
    std::vector<XmlRowProblem> out;
    if (!IsXmlVersionNumber(file.version))
        out.push_back({u"QM_XmlFile", file.key, u"Version", Shorten(file.version), u"is not an XML version such as 1.0"});
    return out;
}

void CheckXmlFileRows(XmlUpdateData& data, const XmlFileRecord& file) { ThrowFirst(file, FindRowProblems(data, file)); }

void CheckXmlFileRowsFit(XmlUpdateData& data, const XmlFileRecord& file, XmlEncoding encoding) {
    ThrowFirst(file, FindUnencodableRows(data, file, encoding));
}

void CheckNewXmlFile(const XmlFileRecord& file) { ThrowFirst(file, FindNewFileProblems(file)); }
