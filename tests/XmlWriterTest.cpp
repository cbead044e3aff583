// The XML writer: new files byte for byte in each encoding, fragments,
// escaping, records with their children, and the failures it reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/Exception.h"
#include "platform/os/FileSystem.h"
#include "platform/os/XmlWriter.h"
#include "support/ScratchFolder.h"

namespace {

std::string Utf16Le(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
}

struct Report {
    std::uint32_t line;
    int level;
    WideString path;
};

class XmlWriterTest : public ::testing::Test {
protected:
    XmlOutputErrorHandler Collect() {
        return [this](const char* source, std::uint32_t line, int level, const WideString& path, const WideString&) {
            EXPECT_NE(std::string(source).find("platform/os/XmlOutput"), std::string::npos) << source;
            reports.push_back({line, level, path});
        };
    }
    XmlElementRecord& Add(const char16_t* key, const char16_t* parent, std::int32_t order, const char16_t* text = u"",
                          std::uint32_t flags = 0) {
        XmlElementRecord& r = data.elements[key];
        r.key = r.name = key;
        r.index = order;
        r.text = text;
        r.flags = flags;
        if (parent != nullptr) r.parent = &data.elements.at(parent);
        return r;
    }
    static void AddAttribute(XmlElementRecord& r, const char16_t* name, const char16_t* value, std::uint32_t flags,
                             std::int32_t order) {
        r.attributes.push_back({kAttributeFromUpdate, name, value, flags, order});
    }
    std::string ReadBack(const WideString& path) {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(path, &bytes));
        return bytes;
    }

    test::ScratchFolder scratch;
    XmlUpdateData data;
    std::vector<Report> reports;
};

constexpr std::uint32_t kWritten = kXmlAttributeBelongs | kXmlAttributeInstall;

// A root with one attribute that has a value and one that has none, and a
// child without text, written with empty attributes left out.
TEST_F(XmlWriterTest, NewFileByteForByte) {
    XmlElementRecord& config = Add(u"config", nullptr, 0);
    AddAttribute(config, u"name", u"main", kWritten, 1);
    AddAttribute(config, u"empty", u"", kWritten, 2);
    XmlElementRecord& item = Add(u"item", u"config", 0);

    const WideString path = scratch / u"new.xml";
    XmlWriter writer(path, Collect());
    writer.SetEncoding(XmlEncoding::Utf8);
    writer.SetEncodingName(u"UTF-8");
    writer.SetStandalone(true);
    writer.Write(writer.GetDeclaration() + u"\r\n");
    writer.WriteRecord(data.elements, config, XML_UPDATE_INSTALL, true);
    EXPECT_TRUE(writer.OpenElements().empty());
    writer.Flush();
    EXPECT_EQ(ReadBack(path),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
              "<config name=\"main\">\r\n"
              "  <item/>\r\n"
              "</config>\r\n");
    EXPECT_TRUE(config.IsProcessed());
    EXPECT_TRUE(item.IsProcessed());
    EXPECT_EQ(writer.LineCount(), 4u);
    EXPECT_TRUE(writer.Buffer().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(XmlWriterTest, EachEncodingWithItsByteOrderMarkRule) {
    struct Case {
        XmlEncoding encoding;
        std::string bytes;
    };
    const WideString text = u"<a b=\"\u00E9\u20AC\"/>\r\n";
    const Case cases[] = {
        {XmlEncoding::Utf8, "<a b=\"\xC3\xA9\xE2\x82\xAC\"/>\r\n"},
        {XmlEncoding::Utf16, "\xFF\xFE" + Utf16Le(text)},
        {XmlEncoding::Iso88591, "<a b=\"\xE9\x80\"/>\r\n"},
        {XmlEncoding::Windows1252, "<a b=\"\xE9\x80\"/>\r\n"},
        {XmlEncoding::UsAscii, "<a b=\"\xE9\xAC\"/>\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(XmlEncodingName(c.encoding)));
        const WideString path = scratch / u"enc.xml";
        XmlOutput output(path, Collect());
        output.SetEncoding(c.encoding);
        output.Write(text);
        output.Flush();
        EXPECT_EQ(ReadBack(path), c.bytes);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(XmlWriterTest, AppendingNeverRepeatsTheByteOrderMark) {
    const WideString path = scratch / u"log.xml";
    XmlOutput output(path, Collect());
    output.SetEncoding(XmlEncoding::Utf16);
    output.SetAppend(true);
    output.Write(u"a");
    output.Flush();
    output.Write(u"b");
    output.Flush();
    output.Flush();  // nothing buffered: the file stays as it is
    EXPECT_EQ(ReadBack(path), std::string("\xFF\xFE" "a\0b\0", 6));

    // Replacing starts the file afresh, with its mark.
    XmlOutput replace(path, Collect());
    replace.SetEncoding(XmlEncoding::Utf16);
    replace.Write(u"c");
    replace.Flush();
    EXPECT_EQ(ReadBack(path), std::string("\xFF\xFE" "c\0", 4));
    EXPECT_TRUE(reports.empty());
}

TEST_F(XmlWriterTest, DeclarationAlwaysHasAllThreeValues) {
    XmlWriter writer(u"", Collect());
    EXPECT_EQ(writer.GetDeclaration(), u"<?xml version=\"1.0\" encoding=\"\" standalone=\"yes\"?>");
    writer.SetVersion(u"");
    writer.SetEncodingName(u"UTF-16");
    writer.SetStandalone(false);
    EXPECT_EQ(writer.GetDeclaration(), u"<?xml version=\"\" encoding=\"UTF-16\" standalone=\"no\"?>");
}

TEST_F(XmlWriterTest, ElementsAttributesTextsAndComments) {
    XmlWriter writer(u"~", Collect());
    writer.SetIndentUnit(u"\t");
    writer.WriteStartElement(u"root");
    writer.WriteAttribute(u"", u"nameless");
    writer.WriteAttribute(u"v", u"a\tb\nc\r\"d\" & 'e' <f>\u0002");
    writer.WriteAttribute(u"blank", u"");
    writer.CloseStartElement(u"root", false, u"Tom & Jerry\tsay \"hi\"\n");
    writer.WriteStartElement(u"leaf");
    writer.CloseStartElement(u"leaf", true, u"1 < 2");
    writer.WriteComment(u"kept as is: <&>");
    EXPECT_FALSE(writer.WriteEndElement(u"other"));
    EXPECT_TRUE(writer.WriteEndElement(u"root"));
    EXPECT_FALSE(writer.WriteEndElement(u"root"));
    EXPECT_EQ(writer.Buffer(),
              u"<root v=\"a&#9;b&#10;c&#13;&quot;d&quot; &amp; &apos;e&apos; &lt;f&gt;&#2;\" blank=\"\">\r\n"
              u"\tTom &amp; Jerry\tsay \"hi\"\n\r\n"
              u"\t<leaf>1 &lt; 2</leaf>\r\n"
              u"\t<!-- kept as is: <&> -->\r\n"
              u"</root>\r\n");
    EXPECT_EQ(writer.Depth(), 0);
}

TEST_F(XmlWriterTest, RecordsAtTheDepthOfTheirPlace) {
    XmlElementRecord& list = Add(u"list", nullptr, 0);
    AddAttribute(list, u"id", u"7", kWritten, 0);
    Add(u"second", u"list", 2, u"two");
    Add(u"first", u"list", 1);
    XmlWriter writer(u"~", Collect());
    writer.SetDepth(1);
    writer.WriteRecord(data.elements, list, XML_UPDATE_INSTALL, false);
    EXPECT_EQ(writer.Buffer(),
              u"  <list id=\"7\">\r\n"
              u"    <first/>\r\n"
              u"    <second>two</second>\r\n"
              u"  </list>\r\n");
    EXPECT_EQ(writer.Depth(), 1);
}

TEST_F(XmlWriterTest, RecordAttributesByModeFlagsAndOrder) {
    XmlElementRecord& e = Add(u"e", nullptr, 0);
    AddAttribute(e, u"late", u"3", kWritten, 9);
    AddAttribute(e, u"both", u"b", kXmlAttributeBelongs | kXmlAttributeInstall | kXmlAttributeUninstall, 2);
    AddAttribute(e, u"uninstall", u"u", kXmlAttributeBelongs | kXmlAttributeUninstall, 1);
    AddAttribute(e, u"removeOnly", u"r", kXmlAttributeSetOrRemove | kXmlAttributeInstall, 0);
    AddAttribute(e, u"set", u"s", kXmlAttributeBelongs | kXmlAttributeSetOrRemove | kXmlAttributeInstall, -1);
    AddAttribute(e, u"noRun", u"n", kXmlAttributeBelongs, 3);
    AddAttribute(e, u"late", u"dup", kWritten, 10);
    AddAttribute(e, u"empty", u"", kWritten, 4);
    struct Case {
        int mode;
        bool skipEmpty;
        std::u16string written;
    };
    const Case cases[] = {
        {XML_UPDATE_INSTALL, false, u"<e set=\"s\" both=\"b\" empty=\"\" late=\"3\"/>\r\n"},
        {XML_UPDATE_INSTALL, true, u"<e set=\"s\" both=\"b\" late=\"3\"/>\r\n"},
        {XML_UPDATE_UNINSTALL, false, u"<e uninstall=\"u\" both=\"b\"/>\r\n"},
    };
    for (const Case& c : cases) {
        XmlWriter writer(u"~", Collect());
        writer.WriteRecord(data.elements, e, c.mode, c.skipEmpty);
        EXPECT_EQ(writer.Buffer(), c.written) << c.mode << c.skipEmpty;
    }
}

TEST_F(XmlWriterTest, CommentsAndRemovedRecords) {
    XmlElementRecord& root = Add(u"root", nullptr, 0);
    XmlElementRecord& note = Add(u"note", u"root", 0, u"first & last", kXmlElementComment);
    AddAttribute(note, u"ignored", u"x", kWritten, 0);
    XmlElementRecord& gone = Add(u"gone", u"root", 1, u"", kXmlElementRemoveOnInstall);
    XmlElementRecord& below = Add(u"below", u"gone", 0);
    XmlElementRecord& onlyEmpty = Add(u"onlyEmpty", u"root", 2);
    AddAttribute(onlyEmpty, u"a", u"", kWritten, 0);
    AddAttribute(onlyEmpty, u"b", u"", kWritten, 1);
    XmlWriter writer(u"~", Collect());
    writer.WriteRecord(data.elements, root, XML_UPDATE_INSTALL, true);
    EXPECT_EQ(writer.Buffer(),
              u"<root>\r\n"
              u"  <!-- first & last -->\r\n"
              u"  <onlyEmpty/>\r\n"
              u"</root>\r\n");
    EXPECT_TRUE(note.IsProcessed());
    EXPECT_TRUE(gone.IsProcessed());
    EXPECT_FALSE(below.IsProcessed());
}

TEST_F(XmlWriterTest, FailuresAreReportedWithTheirLevels) {
    {
        XmlOutput output(scratch / u"x.xml", Collect());
        output.SetEncoding(XmlEncoding::None);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].level, kXmlOutputNoEncoding);
        EXPECT_EQ(output.Encoding(), XmlEncoding::Utf8);
    }
    reports.clear();
    {
        const WideString path = scratch / u"missing\\x.xml";
        XmlOutput output(path, Collect());
        output.Write(u"<a/>");
        output.Flush();
        ASSERT_EQ(reports.size(), 3u);
        EXPECT_EQ(reports[0].level, kXmlOutputOpenFailed);
        EXPECT_EQ(reports[1].level, kXmlOutputWriteFailed);
        EXPECT_EQ(reports[2].level, kXmlOutputWriteFailed);
        EXPECT_EQ(reports[0].path, path);
        EXPECT_NE(reports[0].line, reports[1].line);
        EXPECT_NE(reports[1].line, reports[2].line);
    }
    reports.clear();
    {
        // An encoding outside the table writes nothing, and says so.
        XmlOutput output(scratch / u"y.xml", Collect());
        output.SetEncoding(static_cast<XmlEncoding>(7));
        output.Write(u"<a/>");
        output.Flush();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].level, kXmlOutputWriteFailed);
    }
    reports.clear();
    {
        // An empty buffer is no error, and creates no file.
        XmlOutput output(scratch / u"z.xml", Collect());
        output.Flush();
        EXPECT_TRUE(reports.empty());
        EXPECT_FALSE(PathExists(scratch / u"z.xml"));
    }
}

// How a caller turns reports into exceptions: the first failure ends the write.
TEST_F(XmlWriterTest, AThrowingHandlerStopsAtTheFirstFailure) {
    XmlOutput output(scratch / u"missing\\x.xml", [](const char* source, std::uint32_t line, int level,
                                                       const WideString& path, const WideString&) {
        if (level == kXmlOutputOpenFailed) throw Exception(source, line, 4115, {path});
    });
    output.Write(u"<a/>");
    try {
        output.Flush();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ErrorNumber(), 4115);
        EXPECT_EQ(e.Source(), u"platform/os/XmlOutput");
    }
}

}  // namespace
