// New files and fragments built from planned records: declaration, encoding,
// indentation, skipped records, and the errors the writer and its output
// report.
#include <gtest/gtest.h>

#include "custact/XML/src/util/XmlEncoding.h"
#include "custact/XML/src/xml/FolderPath.h"
#include "custact/XML/src/xml/SourceFragments.h"
#include "installer/Exception.h"
#include "platform/os/FileSystem.h"
#include "platform/os/XmlOutput.h"
#include "support/ScratchFolder.h"

namespace {

constexpr std::uint32_t kWritten = kXmlAttributeBelongs | kXmlAttributeInstall;

class SourceFragmentsTest : public ::testing::Test {
protected:
    // config(name, empty="") > item > comment, and gone (flag 32) > below.
    void SetUp() override {
        Add(u"config", nullptr, 0).attributes = {{kAttributeFromUpdate, u"name", u"m\u00E9", kWritten, 1},
                                                 {kAttributeFromUpdate, u"empty", u"", kWritten, 2}};
        Add(u"item", u"config", 1);
        Add(u"gone", u"item", 1, kXmlElementRemoveOnInstall);
        Add(u"below", u"gone", 0);
        Add(u"note", u"item", 0, kXmlElementComment, u"n");
        file.directory = scratch / u"sub\\dir\\";
        file.fileName = u"new.xml";
        file.version = u"1.0";
        file.root = &data.elements.at(u"config");
    }
    XmlElementRecord& Add(const char16_t* key, const char16_t* parent, std::int32_t order, std::uint32_t flags = 0,
                          WideString text = {}) {
        XmlElementRecord& r = data.elements[key];
        r.key = r.name = key;
        r.text = std::move(text);
        r.index = order;
        r.flags = flags;
        r.parent = parent ? &data.elements.at(parent) : nullptr;
        return r;
    }
    // The exception's number and arguments, or -1 when there is none.
    std::pair<std::int32_t, std::vector<WideString>> Build() {
        try {
            BuildXmlFileFromScratch(data, file, XML_UPDATE_INSTALL);
            return {-1, {}};
        } catch (const Exception& e) {
            return {e.ErrorNumber(), e.Arguments()};
        }
    }

    test::ScratchFolder scratch;
    XmlUpdateData data;
    XmlFileRecord file;
};

TEST_F(SourceFragmentsTest, NewFilesByDeclarationEncodingAndIndentation) {
    const struct {
        const char16_t* encoding;
        std::uint32_t flags;
        std::int32_t indentUnits;
        const char16_t* version;
        const char16_t* expected;  // written in the encoding's bytes
    } cases[] = {
        {u"UTF-8", 1 | 256, 2, u"1.0",
         u"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config name=\"m\u00E9\">\r\n"
         u"  <item>\r\n    <!-- n -->\r\n  </item>\r\n</config>\r\n"},
        {u"utf-8", 4, 1, u"1.1",
         u"<?xml version=\"1.1\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n<config name=\"m\u00E9\" empty=\"\">\r\n"
         u"\t<item>\r\n\t\t<!-- n -->\r\n\t</item>\r\n</config>\r\n"},
        {u"utf-16", 256, -3, u"1.0",
         u"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?>\r\n<config name=\"m\u00E9\">\r\n"
         u"<item>\r\n<!-- n -->\r\n</item>\r\n</config>\r\n"},
        {u"windows-1252", 256, 0, u"1.0",
         u"<?xml version=\"1.0\" encoding=\"Windows-1252\" standalone=\"no\"?>\r\n<config name=\"m\u00E9\">\r\n"
         u"<item>\r\n<!-- n -->\r\n</item>\r\n</config>\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.encoding));
        file.encoding = c.encoding;
        file.flags = c.flags;
        file.indentUnits = c.indentUnits;
        file.version = c.version;
        EXPECT_EQ(Build().first, -1);
        const XmlEncoding encoding = FindXmlEncoding(c.encoding);
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(GetFullPath(file), &bytes));
        EXPECT_EQ(bytes, (encoding == XmlEncoding::Utf16 ? "\xFF\xFE" : "") + EncodeXmlText(encoding, c.expected));
        EXPECT_TRUE(data.elements.at(u"gone").IsProcessed() && data.elements.at(u"note").IsProcessed());
        DeleteFileLogged(GetFullPath(file));
    }
}

TEST_F(SourceFragmentsTest, FailuresAndAMissingRoot) {
    file.encoding = u"UTF-7";
    EXPECT_EQ(Build().first, 4114);
    EXPECT_FALSE(PathExists(GetFullPath(file)));
    // A folder where the file should go cannot be opened for writing, and a
    // file that appeared meanwhile is not replaced.
    file.encoding = u"UTF-8";
    CreateFolderPath(GetFullPath(file) + u"\\x");
    EXPECT_EQ(Build(), std::make_pair(4115, std::vector<WideString>{GetFullPath(file)}));
    const WideString appeared = scratch / u"sub\\dir\\appeared.xml";
    file.fileName = u"appeared.xml";
    ASSERT_TRUE(WriteWholeFile(appeared, "mine"));
    EXPECT_EQ(Build().first, 4115);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(appeared, &bytes) && bytes == "mine");
    // Without a root row nothing is written, and the error says why.
    file.root = nullptr;
    file.key = u"web";
    file.rootElementKey = u"cfg";
    file.fileName = u"none.xml";
    EXPECT_EQ(Build(), std::make_pair(4118, std::vector<WideString>{GetFullPath(file), u"QM_XmlFile", u"web",
                                                                    u"RootElement", u"cfg",
                                                                    u"names no QM_XmlElement row"}));
    EXPECT_FALSE(PathExists(GetFullPath(file)));
}

// The writer's output reports what failed, with its level and path.
TEST(XmlOutputTest, FailuresAreReportedWithTheirLevels) {
    test::ScratchFolder scratch;
    std::vector<int> levels;
    std::vector<WideString> paths;
    const XmlOutputErrorHandler collect = [&](const char* source, std::uint32_t, int level, const WideString& path,
                                              const WideString&) {
        EXPECT_NE(std::string(source).find("platform/os/XmlOutput"), std::string::npos) << source;
        levels.push_back(level);
        paths.push_back(path);
    };
    XmlOutput none(scratch / u"x.xml", collect);
    none.SetEncoding(XmlEncoding::None);
    EXPECT_EQ(none.Encoding(), XmlEncoding::Utf8);

    const WideString missing = scratch / u"missing\\x.xml";
    XmlOutput unopened(missing, collect);
    unopened.Write(u"<a/>");
    unopened.Flush();

    XmlOutput outside(scratch / u"y.xml", collect);
    outside.SetEncoding(static_cast<XmlEncoding>(7));  // nothing to write in
    outside.Write(u"<a/>");
    outside.Flush();

    EXPECT_EQ(levels, (std::vector<int>{kXmlOutputNoEncoding, kXmlOutputOpenFailed, kXmlOutputWriteFailed,
                                        kXmlOutputWriteFailed}));
    EXPECT_FALSE(PathExists(scratch / u"y.xml"));
    EXPECT_EQ(paths[1], missing);
}

}  // namespace
