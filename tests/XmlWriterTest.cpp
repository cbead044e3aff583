// The XML writer's output in each encoding, and the failures it reports.
// (New files and fragments byte for byte are SourceFragmentsTest's and the
// node-edit tests'.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "XmlTestSupport.h"
#include "platform/os/FileSystem.h"
#include "platform/os/XmlWriter.h"
#include "support/ScratchFolder.h"

namespace {

constexpr std::uint32_t kWritten = kXmlAttributeBelongs | kXmlAttributeInstall;

class XmlWriterTest : public ::testing::Test {
protected:
    XmlOutputErrorHandler Collect() {
        return [this](const char* source, std::uint32_t, int level, const WideString& path, const WideString&) {
            EXPECT_NE(std::string(source).find("platform/os/XmlOutput"), std::string::npos) << source;
            levels.push_back(level);
            paths.push_back(path);
        };
    }
    XmlElementRecord& Add(const char16_t* key, const char16_t* parent, std::int32_t order, const char16_t* text = u"",
                          std::uint32_t flags = 0) {
        XmlElementRecord& r = data.elements[key];
        r.key = r.name = WideString(key);
        r.index = order;
        r.text = WideString(text);
        r.flags = flags;
        r.parent = parent != nullptr ? &data.elements.at(parent) : nullptr;
        return r;
    }
    std::string ReadBack(const WideString& path) {
        std::string bytes;
        EXPECT_TRUE(ReadWholeFile(path, &bytes));
        return bytes;
    }

    test::ScratchFolder scratch;
    XmlUpdateData data;
    std::vector<int> levels;
    std::vector<WideString> paths;
};

TEST_F(XmlWriterTest, EachEncodingAndTheByteOrderMarkRule) {
    const WideString text = u"<a b=\"\u00E9\u20AC\"/>\r\n";
    const std::pair<XmlEncoding, std::string> cases[] = {
        {XmlEncoding::Utf8, "<a b=\"\xC3\xA9\xE2\x82\xAC\"/>\r\n"},
        // What the encoding cannot hold becomes a character reference.
        {XmlEncoding::Iso88591, "<a b=\"\xE9&#8364;\"/>\r\n"},
        {XmlEncoding::Windows1252, "<a b=\"\xE9\x80\"/>\r\n"},
        {XmlEncoding::UsAscii, "<a b=\"&#233;&#8364;\"/>\r\n"},
        {XmlEncoding::Utf16BE, xmltest::Utf16Be(text)},  // labelled, so without a mark
        {XmlEncoding::Utf16, "\xFF\xFE" + xmltest::Utf16Le(text)},
    };
    const WideString path = scratch / u"enc.xml";
    for (const auto& c : cases) {
        XmlOutput output(path, Collect());
        output.SetEncoding(c.first);
        output.Write(text);
        output.Flush();
        EXPECT_EQ(ReadBack(path), c.second) << Narrow(XmlEncodingName(c.first));
    }
    // Appended text never repeats the mark; an empty buffer writes nothing.
    XmlOutput output(path, Collect());
    output.SetEncoding(XmlEncoding::Utf16);
    output.SetAppend(true);
    output.Write(u"!");
    output.Flush();
    output.Flush();
    EXPECT_EQ(ReadBack(path), cases[5].second + std::string("!\0", 2));
    EXPECT_TRUE(levels.empty());
}

TEST_F(XmlWriterTest, FailuresAreReportedWithTheirLevels) {
    XmlOutput none(scratch / u"x.xml", Collect());
    none.SetEncoding(XmlEncoding::None);
    EXPECT_EQ(none.Encoding(), XmlEncoding::Utf8);

    const WideString missing = scratch / u"missing\\x.xml";
    XmlOutput unopened(missing, Collect());
    unopened.Write(u"<a/>");
    unopened.Flush();

    XmlOutput outside(scratch / u"y.xml", Collect());
    outside.SetEncoding(static_cast<XmlEncoding>(7));  // nothing to write in
    outside.Write(u"<a/>");
    outside.Flush();

    EXPECT_EQ(levels, (std::vector<int>{kXmlOutputNoEncoding, kXmlOutputOpenFailed, kXmlOutputWriteFailed,
                                        kXmlOutputWriteFailed}));
    EXPECT_FALSE(PathExists(scratch / u"y.xml"));
    EXPECT_EQ(paths[1], missing);
}

}  // namespace
