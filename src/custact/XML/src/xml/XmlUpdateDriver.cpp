#include "custact/XML/src/xml/XmlUpdateDriver.h"

#include <algorithm>
#include <memory>

#include "custact/XML/src/xml/AddedMarkup.h"
#include "custact/XML/src/xml/BackupFiles.h"
#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlRecordCheck.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "custact/XML/src/xml/XmlUpdateFlags.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"

namespace {

// Deletes the files it still lists when it goes out of scope, so that a
// failed update leaves no backup behind.
class FileCleanup {
public:
    FileCleanup() = default;
    FileCleanup(const FileCleanup&) = delete;
    FileCleanup& operator=(const FileCleanup&) = delete;
    ~FileCleanup() {
        for (const WideString& path : paths_) {
            try {
                DeleteOwnFile(path);
            } catch (...) {
                // Unwinding already: a log line that fails cannot stop it.
            }
        }
    }
    void Add(WideString path) { paths_.push_back(std::move(path)); }
    void Release() { paths_.clear(); }

private:
    std::vector<WideString> paths_;
};

// A record whose match was removed takes its direct children with it.
void MarkRemovedRecord(XmlUpdateData& data, XmlElementRecord& record) {
    record.SetProcessed(true);
    for (XmlElementRecord* child : data.ChildrenOf(&record)) child->SetProcessed(true);
}

constexpr std::uint32_t kSelectFirst = kXmlElementUpdateFirst;
constexpr std::uint32_t kSelectAll = kXmlElementUpdateAll;
constexpr std::uint32_t kSelectIndex = kXmlElementUpdateByIndex;

// Flag 8 without 64: only the first unprocessed match counts.
bool StopsAfterFirst(std::uint32_t flags) { return HasFlags(flags, kSelectFirst, kSelectIndex); }
bool StopsAfterFirstAlone(std::uint32_t flags) {
    return HasFlags(flags, kSelectFirst, kSelectAll | kSelectIndex);
}
bool SelectsByIndexAlone(std::uint32_t flags) { return HasFlags(flags, kSelectIndex, kSelectFirst | kSelectAll); }

// The node and every node below it whose bytes are still there.
int CountPresentNodes(const XmlTargetDatabase& db, NodeId node) {
    int count = 0;
    std::vector<NodeId> pending = {node};
    while (!pending.empty()) {
        const NodeId next = pending.back();
        pending.pop_back();
        if (db.IsGone(next)) continue;
        ++count;
        for (NodeId child = db.FirstChild(next); child != kNoNode; child = db.NextSibling(child))
            pending.push_back(child);
    }
    return count;
}

// "1 element", "2 elements".
WideString Count(int count, const char16_t* noun) {
    return ToWideDecimal(count) + u" " + noun + (count == 1 ? u"" : u"s");
}

class FileUpdate {
public:
    FileUpdate(XmlManager& manager, const XmlFileRecord& file, XmlTargetDatabase& db, int mode,
               XmlFileChanges& changes)
        : data_(manager.data), file_(file), db_(db), mode_(mode), changes_(changes) {}

    void VisitAll(const std::vector<XmlElementRecord*>& records) {
        std::vector<NodeId> matches;
        for (std::size_t i = 0; i < records.size(); ++i) {
            XmlElementRecord& record = *records[i];
            LogIfEnabled(u"Source Element: [" + record.key + u"]->XPath: " + GetNodePath(record, false));
            if (record.IsProcessed()) {
                LogIfEnabled(u"Source Node was already processed, skipping...");
                continue;
            }
            if (record.flags & kXmlElementComment) {
                const XmlElementRecord* next =
                    i + 1 < records.size() && records[i + 1]->parent == record.parent ? records[i + 1] : nullptr;
                VisitComment(record, next);
                continue;
            }
            db_.FindMatchingNodes(record, mode_, matches);
            if (matches.empty()) {
                LogIfEnabled(u"NO matching nodes on target file.");
                if (mode_ == XML_UPDATE_INSTALL && (record.flags & kXmlElementInsertIfMissing)) {
                    LogIfEnabled(u"INSERT node with all its children...");
                    Insert(record);
                }
                continue;
            }
            VisitMatches(record, matches);
        }
    }

private:
    void VisitComment(XmlElementRecord& comment, const XmlElementRecord* next) {
        // Added once; an uninstall takes back the ones its installs
        // recorded (GiveBackAddedMarkup), never one that was there before.
        if (db_.CommentExists(comment) || mode_ != XML_UPDATE_INSTALL) return;
        LogIfEnabled(u"INSERT Comment: [" + comment.text + u"]");
        db_.InsertComment(data_, file_, comment, next, XML_UPDATE_INSTALL);
        ++changes_.commentsAdded;
    }

    void Insert(XmlElementRecord& record) {
        CountWrittenRecords(data_, record, changes_);
        db_.InsertNodeAndChildren(data_, file_, record, mode_);
    }

    void Remove(XmlElementRecord& record, NodeId target) {
        LogIfEnabled(u"REMOVE target node and all its children...");
        changes_.elementsRemoved += CountPresentNodes(db_, target);
        db_.RemoveNodeAndChildren(target);
        MarkRemovedRecord(data_, record);
    }

    // The node's text as written, compared before and after.
    void Update(XmlElementRecord& record, NodeId target) {
        const WideString textBefore = db_.TextOf(target);
        const AttributeChanges changed = db_.UpdateXmlNode(file_, target, record, mode_);
        changes_.attributesSet += changed.set;
        changes_.attributesRemoved += changed.removed;
        if (changed.set > 0 || changed.removed > 0 || db_.TextOf(target) != textBefore) ++changes_.elementsUpdated;
    }

    // False when the remaining matches are to be left alone.
    bool VisitMatch(XmlElementRecord& record, NodeId target) {
        const std::uint32_t flags = record.flags;
        if (record.parent == nullptr) {
            LogIfEnabled(u"UPDATE ROOT node with the source changes...");
            Update(record, target);
            return false;
        }
        if (mode_ == XML_UPDATE_UNINSTALL) {
            if (flags & kXmlElementRemoveOnUninstall) {
                Remove(record, target);
            } else if (SelectsByIndexAlone(flags) && record.updateIndex != db_.IndexOf(target)) {
                return true;
            } else {
                LogIfEnabled(u"UPDATE target node with the source changes...");
                Update(record, target);
            }
            return !SkipOthers(StopsAfterFirst(flags));
        }
        if (flags & kXmlElementRemoveOnInstall) {
            Remove(record, target);
            return !SkipOthers(StopsAfterFirstAlone(flags));
        }
        if (HasFlags(flags, kSelectFirst | kSelectAll, kSelectIndex)) {
            // Another instance beside the ones that exist.
            LogIfEnabled(u"INSERT node with all its children...");
            Insert(record);
            return false;
        }
        const int selectors = !!(flags & kSelectFirst) + !!(flags & kSelectAll) + !!(flags & kSelectIndex);
        if (selectors != 1) return true;
        if ((flags & kSelectIndex) && record.updateIndex != db_.IndexOf(target)) return true;
        LogIfEnabled(u"UPDATE target node with the source changes...");
        Update(record, target);
        return !SkipOthers((flags & kSelectFirst) != 0);
    }

    static bool SkipOthers(bool skip) {
        if (skip) LogIfEnabled(u"Skipping other matching nodes.");
        return skip;
    }

    void VisitMatches(XmlElementRecord& record, const std::vector<NodeId>& matches) {
        for (NodeId target : matches) {
            LogIfEnabled(u"Matching Target Node: [" + db_.KeyOf(target) + u"]->XPath: " + db_.NodePath(target, false));
            if (db_.IsProcessed(target)) {
                LogIfEnabled(u"Target Node was already processed, skipping...");
                continue;
            }
            if (!VisitMatch(record, target)) break;
        }
    }

    XmlUpdateData& data_;
    const XmlFileRecord& file_;
    XmlTargetDatabase& db_;
    int mode_;
    XmlFileChanges& changes_;
};

bool IsReadOnly(const WideString& path) {
    const std::uint32_t attributes = platform::GetFileAttributesW(ToLongPath(path));
    return attributes != platform::kInvalidFileAttributes && (attributes & platform::kFileAttributeReadOnly) != 0;
}

}  // namespace

void CountWrittenRecords(XmlUpdateData& data, XmlElementRecord& record, XmlFileChanges& changes) {
    // As the writer goes: a comment has no children, and an element that
    // an install removes is not written, nor anything below it.
    std::vector<XmlElementRecord*> pending = {&record};
    while (!pending.empty()) {
        XmlElementRecord& next = *pending.back();
        pending.pop_back();
        if (next.flags & kXmlElementComment) {
            ++changes.commentsAdded;
        } else if (!(next.flags & kXmlElementRemoveOnInstall)) {
            ++changes.elementsAdded;
            const std::vector<XmlElementRecord*>& children = data.ChildrenOf(&next);
            pending.insert(pending.end(), children.begin(), children.end());
        }
    }
}

WideString DescribeXmlFileChanges(const WideString& path, const XmlFileChanges& changes) {
    if (changes.built) {
        return path + u": built from scratch with " + Count(changes.elementsAdded, u"element") +
               (changes.commentsAdded > 0 ? u", " + Count(changes.commentsAdded, u"comment") : WideString());
    }
    if (!changes.written) return path + u": nothing to change";
    WideString text = path + u": " + Count(changes.elementsAdded, u"element") + u" added, " +
                      ToWideDecimal(changes.elementsUpdated) + u" updated, " + ToWideDecimal(changes.elementsRemoved) +
                      u" removed, " + Count(changes.attributesSet, u"attribute") + u" set";
    if (changes.attributesRemoved > 0) text += u", " + Count(changes.attributesRemoved, u"attribute") + u" removed";
    if (changes.commentsAdded > 0) text += u", " + Count(changes.commentsAdded, u"comment") + u" added";
    return text +
           (changes.backup.empty() ? WideString(u"; no backup") : u"; backup " + GetFileNamePart(changes.backup));
}

XmlFileChanges UpdateXmlFile(XmlManager& manager, const XmlFileRecord& file, int mode) {
    const WideString path = GetFullPath(file);
    LogIfEnabled(u"Updating XML file: " + path);
    // Rows that cannot be written leave the file alone, without a backup.
    if (manager.rowsChecked.count(&file) == 0) CheckXmlFileRows(manager.data, file);

    XmlTargetDatabase db(path);
    db.Parse();
    const std::string& original = db.Updater().Original();

    if (!EqualsIgnoreCaseAscii(file.encoding, db.EncodingName()))
        LogIfEnabled(u"Source and Target XML encodings DON'T match !");

    const NodeId targetRoot = db.RootId();
    if (targetRoot == kNoNode || db.NameOf(targetRoot) != file.root->name) {
        LogIfEnabled(u"Source and Target ROOT elements DON'T match !");
        throw Exception(TRELLIS_HERE, 4117, {targetRoot != kNoNode ? db.NameOf(targetRoot) : WideString(), path});
    }
    // Names and comments go into the file as they are: they must fit its
    // encoding before the first edit.
    CheckXmlFileRowsFit(manager.data, file, db.Updater().Encoding());

    XmlFileChanges changes;
    FileUpdate(manager, file, db, mode, changes).VisitAll(RecordsInLevelOrder(manager.data, file));
    // What removing the product's elements cannot take back, earlier
    // installs recorded.
    if (mode == XML_UPDATE_UNINSTALL) db.GiveBackAddedMarkup(ReadAddedMarkup(manager.productKey, path));

    // Every edit was made in memory: a file whose bytes come out the same
    // is neither backed up nor written.
    if (!db.Updater().IsModified() || db.Updater().SameAsOriginal()) {
        LogIfEnabled(u"Nothing to change in the XML file.");
        LogIfEnabled(u"XML file update completed.");
        return XmlFileChanges();
    }
    if (IsReadOnly(path)) throw Exception(TRELLIS_HERE, u"The XML file " + path + u" is read-only.");

    // The backup and its record exist before the file changes, and go again
    // unless the file is written. An uninstallation has no rollback to
    // serve: it keeps a backup only for a file that asks to keep it.
    FileCleanup cleanup;
    std::unique_ptr<RecordedEntry> record;
    if (mode == XML_UPDATE_INSTALL || (file.flags & kXmlFileKeepBackup) != 0) {
        const WideString backup = BackupTargetFile(NormalizeBackslashes(ToLongPath(path)), file.backupPattern, original);
        cleanup.Add(backup);
        record = std::make_unique<RecordedEntry>(manager.productKey, manager.runId, mode == XML_UPDATE_INSTALL, path,
                                                 backup);
        changes.backup = backup;
    }
    db.Updater().SaveFile(path);
    if (record) record->Keep();
    cleanup.Release();
    if (mode == XML_UPDATE_INSTALL) {
        RecordAddedMarkup(manager.productKey, manager.runId, path, db.AddedInThisRun());
    } else {
        ForgetAddedMarkup(manager.productKey, path);
    }
    changes.written = true;
    LogIfEnabled(u"XML file update completed.");
    return changes;
}
