// The meaning of the Flags columns of QM_XmlFile, QM_XmlElement and
// QM_XmlAttribute, and the run modes every file operation receives.
#pragma once

#include <cstdint>

// Run modes: the deferred install action and the uninstall action.
constexpr int XML_UPDATE_INSTALL = 1;
constexpr int XML_UPDATE_UNINSTALL = 2;

// QM_XmlFile.Flags
constexpr std::uint32_t kXmlFileStandalone = 1;            // new file: standalone="yes"
constexpr std::uint32_t kXmlFileIndentWithTabs = 4;        // indent with tabs, else spaces
constexpr std::uint32_t kXmlFileCreateIfMissing = 8;       // install: build a missing file
constexpr std::uint32_t kXmlFileDeleteIfBuilt = 16;        // with 8: uninstall deletes a file we built
constexpr std::uint32_t kXmlFileRollbackAlone = 32;        // a failure rolls back this file only
constexpr std::uint32_t kXmlFileKeepBackup = 64;           // keep the backup at commit and uninstall
constexpr std::uint32_t kXmlFileDeleteIfEmpty = 128;       // uninstall: delete when the root has no child
constexpr std::uint32_t kXmlFileSkipEmptyAttributes = 256; // new file: leave out empty attributes

// QM_XmlElement.Flags
constexpr std::uint32_t kXmlElementComment = 1;            // the record is a comment
constexpr std::uint32_t kXmlElementRemoveOnUninstall = 2;  // uninstall removes the matches
constexpr std::uint32_t kXmlElementInsertIfMissing = 4;    // install inserts when nothing matches
constexpr std::uint32_t kXmlElementUpdateFirst = 8;        // update the first unprocessed match
constexpr std::uint32_t kXmlElementUpdateAll = 16;         // update every match
constexpr std::uint32_t kXmlElementRemoveOnInstall = 32;   // install removes the matches
constexpr std::uint32_t kXmlElementUpdateByIndex = 64;     // update the match at UpdateIndexInParent

// QM_XmlAttribute.Flags
constexpr std::uint32_t kXmlAttributeKey = 1;        // with 2: identifies its element
constexpr std::uint32_t kXmlAttributeBelongs = 2;    // written into new elements; identifies
constexpr std::uint32_t kXmlAttributeSetOrRemove = 4; // with 2: set the value; without: remove
constexpr std::uint32_t kXmlAttributeInstall = 8;    // takes part in install runs
constexpr std::uint32_t kXmlAttributeUninstall = 16; // takes part in uninstall runs

// Whether the flags hold every bit of set and no bit of clear.
constexpr bool HasFlags(std::uint32_t flags, std::uint32_t set, std::uint32_t clear = 0) {
    return (flags & set) == set && (flags & clear) == 0;
}

// Whether an attribute with these flags takes part in a run of this mode.
constexpr bool AttributeTakesPart(std::uint32_t flags, int mode) {
    const int mask = ((flags & kXmlAttributeInstall) ? XML_UPDATE_INSTALL : 0) |
                     ((flags & kXmlAttributeUninstall) ? XML_UPDATE_UNINSTALL : 0);
    return (mask & mode) == mode;
}
