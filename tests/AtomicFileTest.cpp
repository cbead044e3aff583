// Whole files put in place in one step, against the backend of the build:
// ReplaceFileW and MoveFileExW under Wine, rename in the sandbox.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/os/AtomicFile.h"
#include "platform/os/FileSystem.h"
#include "support/ScratchFolder.h"

namespace {

std::vector<std::u16string> Names(const std::u16string& folder) {
    std::vector<std::u16string> names;
    platform::FileFinder finder;
    platform::FindData entry;
    for (bool found = finder.First(folder + u"\\*", &entry); found; found = finder.Next(&entry)) {
        if (entry.name != u"." && entry.name != u"..") names.push_back(entry.name);
    }
    return names;
}

TEST(AtomicReplaceFile, EachModeOverEachKindOfTarget) {
    enum Before { kNothing, kFile, kHidden, kReadOnly, kFolder, kTakenTemporaryName };
    struct Case {
        const char* name;
        ReplaceMode mode;
        Before before;
        std::uint32_t error;  // 0: the new bytes are in place
    };
    const Case cases[] = {
        {"an existing file is replaced", ReplaceMode::ExistingFile, kFile, 0},
        {"and keeps its attributes", ReplaceMode::ExistingFile, kHidden, 0},
        {"a taken temporary name moves on", ReplaceMode::ExistingFile, kTakenTemporaryName, 0},
        {"a new file is made", ReplaceMode::NewFile, kNothing, 0},
        {"either way, new", ReplaceMode::EitherWay, kNothing, 0},
        {"either way, existing", ReplaceMode::EitherWay, kFile, 0},
        {"an existing file is not there", ReplaceMode::ExistingFile, kNothing, platform::kErrorFileNotFound},
        {"a new file is there already", ReplaceMode::NewFile, kFile, platform::kErrorAlreadyExists},
        {"a read-only file", ReplaceMode::ExistingFile, kReadOnly, platform::kErrorAccessDenied},
        {"a folder", ReplaceMode::EitherWay, kFolder, platform::kErrorAccessDenied},
    };
    const std::string old = "<old/>\r\n", fresh = "<new>\r\n</new>\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchFolder folder;
        const std::u16string target = folder / u"web.config";
        const std::u16string taken = TemporaryFileName(target, 1);
        bool prepared = true;
        if (c.before == kFolder) prepared = platform::CreateDirectoryW(target);
        if (c.before != kNothing && c.before != kFolder) prepared = WriteWholeFile(target, old);
        if (c.before == kTakenTemporaryName) prepared = prepared && WriteWholeFile(taken, "someone's");
        if (c.before == kHidden) prepared = platform::SetFileAttributesW(target, platform::kFileAttributeHidden);
        if (c.before == kReadOnly) prepared = platform::SetFileAttributesW(target, platform::kFileAttributeReadOnly);
        ASSERT_TRUE(prepared);
        const std::uint32_t attributes = platform::GetFileAttributesW(target);

        FileWriteFailure failure;
        EXPECT_EQ(AtomicReplaceFile(target, fresh, c.mode, &failure), c.error == 0);
        EXPECT_EQ(failure.error, c.error);
        std::string bytes;
        const bool readable = ReadWholeFile(target, &bytes);
        if (c.error == 0) {
            EXPECT_EQ(bytes, fresh);
            if (c.before != kNothing) {
                EXPECT_EQ(platform::GetFileAttributesW(target), attributes);
            }
        } else {
            EXPECT_EQ(readable, c.before == kFile || c.before == kReadOnly);
            if (readable) {
                EXPECT_EQ(bytes, old);
            }
        }
        // Nothing else is left in the folder.
        std::vector<std::u16string> expected;
        if (c.before != kNothing || c.error == 0) expected.push_back(u"web.config");
        if (c.before == kTakenTemporaryName) {
            expected.push_back(u"web.config.trellis-1.tmp");
            EXPECT_TRUE(ReadWholeFile(taken, &bytes) && bytes == "someone's");
        }
        EXPECT_EQ(Names(folder.Path()), expected);
        if (c.before == kReadOnly) platform::SetFileAttributesW(target, platform::kFileAttributeNormal);
    }
}

TEST(AtomicReplaceFile, KindsOfPathsTellMissingFromCannotTell) {
    test::ScratchFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder / u"file.xml", "x"));
    const std::pair<std::u16string, platform::PathKind> cases[] = {
        {folder / u"file.xml", platform::PathKind::File},
        {folder.Path(), platform::PathKind::Folder},
        {folder / u"missing.xml", platform::PathKind::Missing},
        {folder / u"missing\\below.xml", platform::PathKind::Missing},
    };
    for (const auto& [path, expected] : cases) {
        platform::PathKind kind = platform::PathKind::Device;
        EXPECT_TRUE(platform::GetPathKind(path, &kind));
        EXPECT_EQ(kind, expected);
    }
    // A name the system refuses is no "not found".
    platform::PathKind kind;
    EXPECT_FALSE(platform::GetPathKind(folder / u"bad|name.xml", &kind));
}

}  // namespace
