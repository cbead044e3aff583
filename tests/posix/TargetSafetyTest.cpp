// Targets that are not what they seem: paths that are not absolute or leave
// their folder, a folder, a named pipe or a symbolic link where the file
// should be, links planted at the names of backups and temporary files, a
// read-only file, and files an uninstallation cannot revert. Each either
// works without touching anything else or fails that one file with a
// message that names it and the reason, and leaves nothing behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/XmlManager.h"
#include "platform/Files.h"
#include "platform/Msi.h"
#include "platform/os/AtomicFile.h"
#include "platform/os/FileSystem.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/Sandbox.h"
#include "support/ManagerTestSupport.h"
#include "support/ScratchFolder.h"

namespace {

const std::u16string kProduct = u"{8A4E2C61-3F5B-4D79-B1E0-6C2A9D8F4B13}";
const std::string kDocument = "<config>\r\n  <other/>\r\n</config>\r\n";
const std::string kElsewhere = "a file the link points to\r\n";

std::string Posix(const std::u16string& windowsPath) {
    std::string path;
    EXPECT_TRUE(platform::posix::MapWindowsPath(windowsPath, &path));
    return path;
}

class TargetSafety : public ::testing::Test {
protected:
    void SetUp() override {
        test::DeleteNorrvikTree();
        session.SetMode(platform::kMsiRunModeScheduled, true);
    }
    void TearDown() override { test::DeleteNorrvikTree(); }

    std::uint32_t Run(int mode, const std::u16string& folder, const std::u16string& name, int flags) {
        auto manager = test::BuildManager(
            {{u"ProductCode", kProduct}, {u"REMOVE", mode == XML_UPDATE_UNINSTALL ? u"ALL" : u""},
             {u"QM_XML_RUN_ID", u"R1"}},
            {{u"web", name, folder, u"cfg", flags}},
            {{u"cfg", u"", u"config", 0, 0, u"", 0}, {u"add", u"cfg", u"add", 1, 4 | 2, u"", 0}},
            {{u"add", u"key", 2 | 8 | 16, 0, u"shop"}});
        manager->install = session.Handle();
        return ExecuteXmlUpdates(*manager, mode);
    }
    // The texts of the warnings and errors sent to the installer.
    std::u16string Reported() const {
        std::u16string text;
        for (const auto& m : session.Messages()) {
            const std::uint32_t kind = m.type & 0xFF000000u;
            if (kind != platform::kInstallMessageWarning && kind != platform::kInstallMessageError) continue;
            for (const std::u16string& field : m.fields) text += field + u" ";
        }
        return text;
    }
    std::string Read(const std::u16string& path) const {
        std::string bytes;
        return ReadWholeFile(path, &bytes) ? bytes : "<unreadable>";
    }
    // The names in the scratch folder, sorted, with a mark for links.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        platform::FileFinder finder;
        platform::FindData entry;
        for (bool found = finder.First(scratch / u"*", &entry); found; found = finder.Next(&entry)) {
            if (entry.name == u"." || entry.name == u"..") continue;
            const bool link = (entry.attributes & platform::kFileAttributeReparsePoint) != 0;
            names.push_back(Narrow(entry.name) + (link ? "@" : ""));
        }
        return names;
    }

    platform::posix::InstallerSession session;
    test::ScratchFolder scratch;
    const std::u16string folder = scratch.Path() + u"\\";
    const std::u16string web = scratch / u"web.config";
    const std::u16string elsewhere = scratch / u"elsewhere.txt";
};

TEST_F(TargetSafety, OddTargetsFailAloneAndTouchNothing) {
    struct Case {
        const char* name;
        int mode;
        std::u16string folder;  // the formatted DirProperty
        std::u16string file;
        std::function<void()> setUp;
        std::uint32_t result;
        std::u16string reported;  // a part of the message; empty: no message
        std::string after;        // the bytes read at the target afterwards; links and pipes are not read
        std::vector<std::string> listing;
    };
    const auto link = [&](const std::u16string& at) {
        return [this, at] {
            ASSERT_TRUE(WriteWholeFile(elsewhere, kElsewhere));
            ASSERT_EQ(::symlink(Posix(elsewhere).c_str(), Posix(at).c_str()), 0);
        };
    };
    const auto document = [&] { ASSERT_TRUE(WriteWholeFile(web, kDocument)); };
    const std::string merged = "<config>\r\n  <other/>\r\n  <add key=\"shop\"/>\r\n</config>\r\n";
    const Case cases[] = {
        {"a folder property that is not set", XML_UPDATE_INSTALL, u"", u"web.config", [] {}, 1603,
         u"The QM_XmlFile row web names the file \"web.config\", which is not a full path", "<unreadable>", {}},
        {"a drive without a folder", XML_UPDATE_INSTALL, u"C:", u"web.config", [] {}, 1603,
         u"row web names the file \"C:web.config\"", "<unreadable>", {}},
        {"a device path", XML_UPDATE_INSTALL, u"\\\\.\\pipe\\", u"web.config", [] {}, 1603,
         u"row web names the file \"\\\\.\\pipe\\web.config\"", "<unreadable>", {}},
        {"a name that leaves its folder", XML_UPDATE_INSTALL, folder + u"sub\\", u"..\\web.config", document, 1603,
         u"which leaves its folder through \"..\"", kDocument, {"web.config"}},
        {"a folder at the target", XML_UPDATE_INSTALL, folder, u"web.config",
         [&] { ASSERT_TRUE(platform::CreateDirectoryW(web)); }, 1603, u"is a folder", "<unreadable>",
         {"web.config"}},
        {"a named pipe at the target", XML_UPDATE_INSTALL, folder, u"web.config",
         [&] { ASSERT_EQ(::mkfifo(Posix(web).c_str(), 0666), 0); }, 1603, u"is not a regular file",
         "<unreadable>", {"web.config"}},
        {"a link at the target", XML_UPDATE_INSTALL, folder, u"web.config", link(web), 1603,
         u"is a symbolic link", "<unreadable>", {"elsewhere.txt", "web.config@"}},
        {"a read-only target", XML_UPDATE_INSTALL, folder, u"web.config",
         [&] {
             document();
             ASSERT_TRUE(platform::SetFileAttributesW(web, platform::kFileAttributeReadOnly));
         },
         1603, u"is read-only", kDocument, {"web.config"}},
        {"a link at the backup name", XML_UPDATE_INSTALL, folder, u"web.config",
         [&] {
             document();
             link(web + u".back")();
         },
         0, u"", merged, {"elsewhere.txt", "web.config", "web.config.1.back", "web.config.back@"}},
        {"a link at the temporary file's name", XML_UPDATE_INSTALL, folder, u"web.config",
         [&] {
             document();
             link(TemporaryFileName(web, 1))();
         },
         0, u"", merged, {"elsewhere.txt", "web.config", "web.config.back", "web.config.trellis-1.tmp@"}},
        {"a linked folder on the way", XML_UPDATE_INSTALL, folder + u"linked\\", u"web.config",
         [&] {
             ASSERT_TRUE(platform::CreateDirectoryW(scratch / u"real"));
             ASSERT_TRUE(WriteWholeFile(scratch / u"real\\web.config", kDocument));
             ASSERT_EQ(::symlink(Posix(scratch / u"real").c_str(), Posix(scratch / u"linked").c_str()), 0);
         },
         0, u"", merged, {"linked@", "real"}},
        {"uninstall: not well-formed", XML_UPDATE_UNINSTALL, folder, u"web.config",
         [&] { ASSERT_TRUE(WriteWholeFile(web, "<config><add key=\"shop\"/>")); }, 0,
         u"The XML file " + web + u" is left as it is: error 4113", "<config><add key=\"shop\"/>", {"web.config"}},
        {"uninstall: another root", XML_UPDATE_UNINSTALL, folder, u"web.config",
         [&] { ASSERT_TRUE(WriteWholeFile(web, "<settings/>")); }, 0, u"is left as it is: error 4117",
         "<settings/>", {"web.config"}},
        {"uninstall: a link", XML_UPDATE_UNINSTALL, folder, u"web.config", link(web), 0, u"is a symbolic link",
         "<unreadable>", {"elsewhere.txt", "web.config@"}},
        {"uninstall: read-only", XML_UPDATE_UNINSTALL, folder, u"web.config",
         [&] {
             ASSERT_TRUE(WriteWholeFile(web, merged));
             ASSERT_TRUE(platform::SetFileAttributesW(web, platform::kFileAttributeReadOnly));
         },
         0, u"is read-only", merged, {"web.config"}},
    };
    // A pipe that held the installation would end the test here.
    ::alarm(60);
    const std::string workingFolder = Posix(scratch.Path());
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(workingFolder);
        ASSERT_TRUE(platform::CreateDirectoryW(scratch.Path()));
        // A relative path would resolve against the process's folder.
        ASSERT_EQ(::chdir(workingFolder.c_str()), 0);
        c.setUp();
        // The product has a record for the file, which an uninstallation must not leave.
        test::SetCurrentUserValue(ProductBackupKey(kProduct), c.folder + c.file, u"C:\\nowhere.back");
        session.ClearMessages();
        EXPECT_EQ(Run(c.mode, c.folder, c.file, 8 | 16), c.result);
        ASSERT_EQ(::chdir(previous), 0);

        const std::u16string reported = Reported();
        if (c.reported.empty()) {
            EXPECT_EQ(reported, u"");
        } else {
            EXPECT_NE(reported.find(c.reported), std::u16string::npos) << Narrow(reported);
        }
        EXPECT_EQ(Read(c.folder + c.file), c.after);
        // What a link points to is never written.
        if (std::find(c.listing.begin(), c.listing.end(), "elsewhere.txt") != c.listing.end()) {
            EXPECT_EQ(Read(elsewhere), kElsewhere);
        }
        EXPECT_EQ(Listing(), c.listing);
        if (c.mode == XML_UPDATE_UNINSTALL) {
            EXPECT_FALSE(test::CurrentUserKeyExists(ProductBackupKey(kProduct)));
        }
        test::DeleteNorrvikTree();
    }
    ::alarm(0);
}

}  // namespace
