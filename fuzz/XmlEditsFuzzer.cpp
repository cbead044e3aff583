// Fuzzes the node edits of the target database. An input is an edit script,
// a line "%%", then the bytes of a target file (no "%%" line: no edits):
//
//   F <units> <tabs>                   indentation of inserted markup (tabs: 1)
//   R <node>                           remove the node with everything in it
//   A <node> <flags> name=value|...    planned attributes, all with these flags
//   T <node> text                      the node's text
//   I <node> name|text|name=value|...  insert an element as the node's last child
//   K <depth> name|text|name=value|... with a child element at this depth below it
//   Q <depth> text                     or a comment there
//   C <node> text                      a comment as the node's last child
//   D <node> text                      a comment before the node
//
// <node> counts the file's elements in document order from 0, the root, and
// wraps around. Texts are UTF-8 with the escapes of DecodeEscaped. The edits
// go through the functions the update driver calls, with records made for
// each node's path as a package's rows would be; rows that the engine's
// checks refuse are skipped, as the driver refuses them before any edit.
//
// A file the database refuses ends the run. Otherwise, after every edit,
// plain Expat must read the bytes; the prolog, the epilogue and every
// element that no edit touched must keep their bytes; and every other
// element must hold what a model of the edits says: the same children,
// attributes, comments, and text up to white space.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>

#include "FuzzSupport.h"
#include "PlainXml.h"
#include "custact/XML/src/xml/XmlRecordCheck.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Exception.h"

namespace {

using fuzz::Fail;
using Attributes = std::vector<std::pair<std::u16string, std::u16string>>;

constexpr std::size_t kMaxEdits = 16;
constexpr std::size_t kMaxTextChoices = 32;
constexpr std::uint32_t kInsertedAttribute = kXmlAttributeBelongs | kXmlAttributeInstall;

struct NewNode {
    int depth = 0;
    bool comment = false;
    std::u16string name;
    std::u16string text;
    Attributes attributes;
};

struct Edit {
    char op = 0;
    std::size_t node = 0;
    std::uint32_t flags = 0;
    std::u16string text;
    Attributes attributes;
    std::vector<NewNode> inserted;  // I: the element first, then K and Q lines
};

std::size_t Number(std::string_view& rest) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    std::size_t value = 0;
    for (int digits = 0; !rest.empty() && rest.front() >= '0' && rest.front() <= '9'; rest.remove_prefix(1)) {
        if (++digits <= 9) value = value * 10 + static_cast<std::size_t>(rest.front() - '0');
    }
    if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    return value;
}

Attributes ReadAttributes(const std::vector<std::string_view>& fields, std::size_t first) {
    Attributes attributes;
    for (std::size_t i = first; i < fields.size(); ++i) {
        const std::size_t equals = fields[i].find('=');
        attributes.emplace_back(fuzz::DecodeEscaped(fields[i].substr(0, equals)),
                                equals == std::string_view::npos ? std::u16string()
                                                                 : fuzz::DecodeEscaped(fields[i].substr(equals + 1)));
    }
    return attributes;
}

NewNode ReadNewNode(std::string_view rest, int depth, bool comment) {
    NewNode node;
    node.depth = depth;
    node.comment = comment;
    if (comment) {
        node.text = fuzz::DecodeEscaped(rest);
        return node;
    }
    const std::vector<std::string_view> fields = fuzz::SplitFields(rest);
    node.name = fuzz::DecodeEscaped(fields[0]);
    if (fields.size() > 1) node.text = fuzz::DecodeEscaped(fields[1]);
    node.attributes = ReadAttributes(fields, 2);
    return node;
}

std::vector<Edit> ReadScript(std::string_view script, XmlFileRecord& file) {
    std::vector<Edit> edits;
    for (std::string_view line : fuzz::Split(script, '\n')) {
        if (line.size() < 2 || line[1] != ' ') continue;
        const char op = line[0];
        std::string_view rest = line.substr(2);
        if (op == 'F') {
            file.indentUnits = static_cast<std::int32_t>(Number(rest) % 9);
            file.flags = Number(rest) == 1 ? kXmlFileIndentWithTabs : 0;
        } else if (op == 'K' || op == 'Q') {
            if (edits.empty() || edits.back().op != 'I') continue;
            // At most one level below the last element, never below a comment.
            std::vector<NewNode>& inserted = edits.back().inserted;
            int last = 0;
            for (const NewNode& n : inserted) {
                if (!n.comment) last = n.depth;
            }
            const int depth = static_cast<int>(std::min<std::size_t>(std::max<std::size_t>(Number(rest), 1),
                                                                     static_cast<std::size_t>(last) + 1));
            inserted.push_back(ReadNewNode(rest, depth, op == 'Q'));
        } else if (std::string_view("RATICD").find(op) != std::string_view::npos) {
            if (edits.size() == kMaxEdits) break;
            Edit edit;
            edit.op = op;
            edit.node = Number(rest);
            if (op == 'A') {
                edit.flags = static_cast<std::uint32_t>(Number(rest) % 32);
                edit.attributes = ReadAttributes(fuzz::SplitFields(rest), 0);
            } else if (op == 'I') {
                edit.inserted.push_back(ReadNewNode(rest, 0, false));
            } else {
                edit.text = fuzz::DecodeEscaped(rest);
            }
            edits.push_back(std::move(edit));
        }
    }
    return edits;
}

// What an element of the file should hold after the edits so far.
struct ModelNode {
    std::u16string name;
    std::int64_t original = -1;  // its index in the parsed file; -1 for inserted markup
    bool touched = false;        // its bytes may have changed
    bool alive = true;
    Attributes attributes;
    std::vector<std::u16string> texts;  // what its text may be, without blanks
    std::vector<std::u16string> comments;
    std::vector<ModelNode*> children;
    ModelNode* parent = nullptr;
};

std::string Describe(const std::u16string& text) { return Narrow(text); }

class EditRun {
public:
    EditRun(std::string bytes, const XmlFileRecord& file) : bytes_(std::move(bytes)), file_(file) {}

    // False when the file is refused; fails when the database and plain
    // Expat disagree about it.
    bool Load() {
        try {
            db_.Parse(bytes_);
        } catch (const Exception&) {
            return false;
        }
        original_ = fuzz::ReadPlain(bytes_);
        if (!original_.wellFormed) Fail("the database read a file that Expat refuses: " + original_.error);
        CollectNodes();
        BuildModel();
        return true;
    }

    void Apply(const Edit& edit) {
        const std::size_t n = edit.node % nodes_.size();
        const std::string before = db_.Updater().Bytes();
        const bool expectChange = Plan(edit, n);
        if (!expectChange && plannedSkip_) return;
        try {
            Run(edit, n);
        } catch (const Exception& e) {
            Fail(std::string("edit ") + edit.op + " threw: " + Describe(e.LogText()));
        } catch (const std::exception& e) {
            Fail(std::string("edit ") + edit.op + " threw: " + e.what());
        }
        if (trace_) std::fprintf(stderr, "edit %c %zu:\n%s\n", edit.op, n, db_.Updater().Bytes().c_str());
        if (!expectChange && db_.Updater().Bytes() != before) Fail(std::string("edit ") + edit.op + " changed bytes");
        Check(edit.op);
    }

    // The next install reads the file again.
    void CheckRereads() {
        XmlTargetDatabase again(u"fuzz.xml");
        try {
            again.Parse(db_.Updater().Bytes());
        } catch (const Exception& e) {
            Fail("the database refuses its own output: " + Describe(e.LogText()));
        }
    }

private:
    void CollectNodes() {
        std::vector<TargetNode*> stack{db_.Root()};
        while (!stack.empty()) {
            TargetNode* node = stack.back();
            stack.pop_back();
            nodes_.push_back(node);
            stack.insert(stack.end(), node->children.rbegin(), node->children.rend());
        }
        if (nodes_.size() != original_.elements.size()) Fail("the database and Expat count different elements");
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            const TargetNode& node = *nodes_[i];
            const fuzz::PlainElement& plain = original_.elements[i];
            Attributes attributes;
            for (const XmlAttributeRecord& a : node.attributes) attributes.emplace_back(a.name, a.value);
            if (node.name != plain.name || node.start != plain.start || node.end != plain.end ||
                attributes != plain.attributes)
                Fail("element " + std::to_string(i) + " reads differently from Expat: " + Describe(node.name) + " at " +
                     std::to_string(node.start) + ".." + std::to_string(node.end) + ", Expat " +
                     std::to_string(plain.start) + ".." + std::to_string(plain.end));
        }
    }

    void BuildModel() {
        std::map<std::pair<std::size_t, std::u16string>, std::size_t> pathIds;
        for (std::size_t i = 0; i < original_.elements.size(); ++i) {
            const fuzz::PlainElement& plain = original_.elements[i];
            ModelNode& node = model_.emplace_back();
            node.name = plain.name;
            node.original = static_cast<std::int64_t>(i);
            node.attributes = plain.attributes;
            node.texts = {fuzz::WithoutBlanks(plain.text)};
            node.comments = plain.comments;
            pathId_.push_back(0);
        }
        // Parents come before their children in document order.
        for (std::size_t i = 0; i < original_.elements.size(); ++i) {
            for (std::size_t child : original_.elements[i].children) {
                model_[i].children.push_back(&model_[child]);
                model_[child].parent = &model_[i];
            }
            const std::size_t parentPath = model_[i].parent ? pathId_[model_[i].parent->original] + 1 : 0;
            pathId_[i] = pathIds.emplace(std::make_pair(parentPath, model_[i].name), pathIds.size()).first->second;
        }
    }

    static void Touch(ModelNode* node) {
        for (; node != nullptr; node = node->parent) node->touched = true;
    }

    // The first element of the file with the path of n: the one a record
    // for that path finds first, alive or not.
    std::size_t FirstWithPath(std::size_t n, bool alive) const {
        for (std::size_t i = 0; i < model_.size() && model_[i].original >= 0; ++i) {
            if (pathId_[i] == pathId_[n] && (!alive || model_[i].alive)) return i;
        }
        return model_.size();
    }

    // Records for the path of n, below a root record, as rows would give them.
    XmlElementRecord* PathRecords(std::size_t n) {
        std::vector<const ModelNode*> chain;
        for (const ModelNode* m = &model_[n]; m != nullptr; m = m->parent) chain.push_back(m);
        XmlElementRecord* parent = nullptr;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            parent = AddRecord((*it)->name, parent);
        }
        file_.root = &data_->elements.at(u"r0");
        file_.rootElementKey = u"r0";
        return parent;
    }

    XmlElementRecord* AddRecord(const std::u16string& name, XmlElementRecord* parent) {
        const std::u16string key = u"r" + ToWideUnsigned(data_->elements.size());
        XmlElementRecord& record = data_->elements[key];
        record.key = key;
        record.name = name;
        record.parent = parent;
        record.parentKey = parent ? parent->key : std::u16string();
        record.index = static_cast<std::int32_t>(data_->elements.size());
        return &record;
    }

    static void AddAttributes(XmlElementRecord& record, const Attributes& attributes, std::uint32_t flags) {
        for (const auto& [name, value] : attributes) {
            record.attributes.push_back({kAttributeFromUpdate, name, value, flags,
                                         static_cast<std::int32_t>(record.attributes.size()),
                                         record.key + u"." + ToWideUnsigned(record.attributes.size())});
        }
    }

    // Makes the records of the edit and updates the model; false when the
    // edit must leave the bytes alone (plannedSkip_: not even run).
    bool Plan(const Edit& edit, std::size_t n) {
        data_ = std::make_unique<XmlUpdateData>();
        plannedSkip_ = false;
        if ((edit.op == 'R' || edit.op == 'D') && n == 0) return Skip();  // the driver never does these to the root
        XmlElementRecord* path = PathRecords(n);
        source_ = path;
        next_ = nullptr;
        if (edit.op == 'A') {
            mode_ = (edit.flags & kXmlAttributeUninstall) && !(edit.flags & kXmlAttributeInstall) ? XML_UPDATE_UNINSTALL
                                                                                                 : XML_UPDATE_INSTALL;
            AddAttributes(*path, edit.attributes, edit.flags);
        } else if (edit.op == 'T') {
            path->text = edit.text;
        } else if (edit.op == 'I') {
            std::vector<XmlElementRecord*> lastAtDepth;
            for (const NewNode& node : edit.inserted) {
                XmlElementRecord* parent = node.depth == 0 ? path : lastAtDepth[node.depth - 1];
                XmlElementRecord* record = AddRecord(node.name, parent);
                record->text = node.text;
                if (node.comment) record->flags = kXmlElementComment;
                AddAttributes(*record, node.attributes, kInsertedAttribute);
                if (node.depth == 0) source_ = record;
                if (node.comment) continue;
                if (lastAtDepth.size() <= static_cast<std::size_t>(node.depth)) lastAtDepth.resize(node.depth + 1);
                lastAtDepth[node.depth] = record;
            }
        } else if (edit.op == 'C' || edit.op == 'D') {
            XmlElementRecord* comment = AddRecord(u"", edit.op == 'C' ? path : path->Parent());
            comment->flags = kXmlElementComment;
            comment->text = edit.text;
            source_ = comment;
            if (edit.op == 'D') next_ = path;
        }
        try {
            CheckXmlFileRows(*data_, file_);
            CheckXmlFileRowsFit(*data_, file_, db_.Updater().Encoding());
        } catch (const Exception&) {
            return Skip();
        }
        return Predict(edit, n);
    }

    bool Skip() {
        plannedSkip_ = true;
        return false;
    }

    bool Predict(const Edit& edit, std::size_t n) {
        ModelNode& node = model_[n];
        switch (edit.op) {
        case 'R':
            if (!node.alive) return false;
            Kill(node);
            node.parent->children.erase(std::find(node.parent->children.begin(), node.parent->children.end(), &node));
            Touch(node.parent);
            return true;
        case 'A':
            return node.alive && MergeAttributes(node, edit, n);
        case 'T': {
            if (!node.alive) return false;
            const std::u16string text = fuzz::WithoutBlanks(edit.text);
            std::vector<std::u16string> texts{text};
            for (const std::u16string& t : node.texts) texts.push_back(t + text);
            std::sort(texts.begin(), texts.end());
            texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
            if (texts.size() > kMaxTextChoices) texts.resize(kMaxTextChoices);
            node.texts = std::move(texts);
            Touch(&node);
            return true;
        }
        case 'I': {
            ModelNode& parent = model_[FirstWithPath(n, false)];
            if (!parent.alive) return false;
            AddInserted(parent, edit.inserted);
            Touch(&parent);
            return true;
        }
        case 'C': {
            ModelNode& parent = model_[FirstWithPath(n, false)];
            if (!parent.alive) return false;
            parent.comments.push_back(fuzz::CommentKey(edit.text));
            Touch(&parent);
            return true;
        }
        case 'D': {
            // Before the first live element of this path, else last in the
            // first element of the parent's path.
            const std::size_t sibling = FirstWithPath(n, true);
            ModelNode* parent = sibling < model_.size() ? model_[sibling].parent
                                                         : &model_[FirstWithPath(node.parent->original, false)];
            if (!parent->alive) return false;
            parent->comments.push_back(fuzz::CommentKey(edit.text));
            Touch(parent);
            return true;
        }
        default:
            return false;
        }
    }

    static void Kill(ModelNode& node) {
        std::vector<ModelNode*> stack{&node};
        while (!stack.empty()) {
            ModelNode* m = stack.back();
            stack.pop_back();
            m->alive = false;
            stack.insert(stack.end(), m->children.begin(), m->children.end());
        }
    }

    // The planned attributes in their order against the element's own: add
    // when missing, set when asked to, remove when asked to; a new one goes
    // last. False when nothing changes.
    bool MergeAttributes(ModelNode& node, const Edit& edit, std::size_t n) {
        if (!AttributeTakesPart(edit.flags, mode_)) return false;
        const bool add = (edit.flags & kXmlAttributeBelongs) != 0;
        const bool set = (edit.flags & kXmlAttributeSetOrRemove) != 0;
        bool changed = false;
        for (const auto& planned : edit.attributes) {
            const auto existing = std::find_if(node.attributes.begin(), node.attributes.end(),
                                               [&](const auto& a) { return a.first == planned.first; });
            if (add && existing == node.attributes.end()) {
                node.attributes.push_back(planned);
                changed = true;
            } else if (add && set && existing->second != planned.second) {
                existing->second = planned.second;
                changed = true;
            } else if (!add && set && existing != node.attributes.end()) {
                node.attributes.erase(existing);
                changed = true;
            }
        }
        if (changed) Touch(&model_[n]);
        return changed;
    }

    void AddInserted(ModelNode& parent, const std::vector<NewNode>& inserted) {
        std::vector<ModelNode*> lastAtDepth;
        for (const NewNode& node : inserted) {
            ModelNode* into = node.depth == 0 ? &parent : lastAtDepth[node.depth - 1];
            if (node.comment) {
                into->comments.push_back(fuzz::CommentKey(node.text));
                continue;
            }
            ModelNode& added = model_.emplace_back();
            added.name = node.name;
            added.touched = true;
            added.parent = into;
            added.texts = {fuzz::WithoutBlanks(node.text)};
            // One attribute per name, the first.
            for (const auto& a : node.attributes) {
                if (std::none_of(added.attributes.begin(), added.attributes.end(),
                                 [&](const auto& b) { return b.first == a.first; }))
                    added.attributes.push_back(a);
            }
            into->children.push_back(&added);
            if (lastAtDepth.size() <= static_cast<std::size_t>(node.depth)) lastAtDepth.resize(node.depth + 1);
            lastAtDepth[node.depth] = &added;
        }
    }

    void Run(const Edit& edit, std::size_t n) {
        TargetNode& target = *nodes_[n];
        switch (edit.op) {
        case 'R': db_.RemoveNodeAndChildren(target); break;
        case 'A': db_.UpdateNodeAttributes(target, *source_, mode_); break;
        case 'T': db_.UpdateXmlNode(file_, target, *source_, XML_UPDATE_INSTALL); break;
        case 'I': db_.InsertNodeAndChildren(*data_, file_, *source_, XML_UPDATE_INSTALL); break;
        case 'C':
        case 'D': db_.InsertComment(*data_, file_, *source_, next_, XML_UPDATE_INSTALL); break;
        default: break;
        }
    }

    // The bytes against the model, after an edit.
    void Check(char op) {
        const std::string& bytes = db_.Updater().Bytes();
        const fuzz::PlainDocument out = fuzz::ReadPlain(bytes);
        const std::string after = std::string(" after edit ") + op;
        if (!out.wellFormed) Fail("not well-formed" + after + ": " + out.error);
        const fuzz::PlainElement& root = out.elements.front();
        const fuzz::PlainElement& originalRoot = original_.elements.front();
        if (bytes.compare(0, static_cast<std::size_t>(root.start), bytes_, 0,
                          static_cast<std::size_t>(originalRoot.start)) != 0 ||
            bytes.compare(static_cast<std::size_t>(root.end), std::string::npos, bytes_,
                          static_cast<std::size_t>(originalRoot.end)) != 0 ||
            out.outerComments != original_.outerComments)
            Fail("the bytes around the root changed" + after);

        std::vector<std::pair<const ModelNode*, std::size_t>> stack{{&model_.front(), 0}};
        while (!stack.empty()) {
            const auto [expected, index] = stack.back();
            stack.pop_back();
            const fuzz::PlainElement& found = out.elements[index];
            const std::string where = " in " + Describe(expected->name) + after;
            if (found.name != expected->name) Fail("found " + Describe(found.name) + where);
            if (!expected->touched) {
                const fuzz::PlainElement& was = original_.elements[static_cast<std::size_t>(expected->original)];
                if (bytes.compare(static_cast<std::size_t>(found.start), static_cast<std::size_t>(found.end - found.start),
                                  bytes_, static_cast<std::size_t>(was.start),
                                  static_cast<std::size_t>(was.end - was.start)) != 0)
                    Fail("untouched element changed" + where);
                continue;
            }
            if (found.attributes != expected->attributes) Fail("unexpected attributes" + where);
            const std::u16string text = fuzz::WithoutBlanks(found.text);
            if (std::find(expected->texts.begin(), expected->texts.end(), text) == expected->texts.end())
                Fail("unexpected text '" + Describe(text) + "'" + where);
            std::vector<std::u16string> comments = found.comments;
            std::vector<std::u16string> expectedComments = expected->comments;
            std::sort(comments.begin(), comments.end());
            std::sort(expectedComments.begin(), expectedComments.end());
            if (comments != expectedComments) Fail("unexpected comments" + where);
            if (found.children.size() != expected->children.size())
                Fail(std::to_string(found.children.size()) + " children instead of " +
                     std::to_string(expected->children.size()) + where);
            for (std::size_t i = 0; i < found.children.size(); ++i)
                stack.emplace_back(expected->children[i], found.children[i]);
        }
    }

    std::string bytes_;  // as loaded
    XmlFileRecord file_;
    XmlTargetDatabase db_{u"fuzz.xml"};
    fuzz::PlainDocument original_;
    std::vector<TargetNode*> nodes_;  // in document order
    std::deque<ModelNode> model_;     // the file's elements in document order, then inserted ones
    std::vector<std::size_t> pathId_;  // equal for elements with equal paths
    std::unique_ptr<XmlUpdateData> data_;
    XmlElementRecord* source_ = nullptr;
    XmlElementRecord* next_ = nullptr;
    int mode_ = XML_UPDATE_INSTALL;
    bool plannedSkip_ = false;
    // TRELLIS_FUZZ_TRACE=1 prints the bytes after each edit.
    const bool trace_ = std::getenv("TRELLIS_FUZZ_TRACE") != nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view script;
    std::string_view document = input;
    const std::size_t marker = input.find("%%\n");
    if (marker != std::string_view::npos && (marker == 0 || input[marker - 1] == '\n')) {
        script = input.substr(0, marker);
        document = input.substr(marker + 3);
    }
    XmlFileRecord file;
    file.key = u"fuzz";
    file.fileName = u"fuzz.xml";
    file.indentUnits = 2;
    const std::vector<Edit> edits = ReadScript(script, file);

    EditRun run(std::string(document), file);
    if (!run.Load()) return 0;
    for (const Edit& edit : edits) run.Apply(edit);
    run.CheckRereads();
    return 0;
}
