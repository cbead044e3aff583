#include "support/MergeBench.h"

#include <expat.h>
#include <gtest/gtest.h>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "custact/XML/src/xml/SourceFragments.h"
#include "custact/XML/src/xml/XmlManager.h"
#include "custact/XML/src/xml/XmlUpdateDriver.h"
#include "installer/Exception.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"

namespace test {
namespace {

const std::u16string kProduct = u"{6E1F0A3B-5C27-4D98-B4E1-2A7C9D3F8B60}";

std::u16string Wide(const XML_Char* text) {
    std::u16string out;
    for (; text != nullptr && *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
    return out;
}

struct Reading {
    std::vector<ReadElement> elements;
    std::vector<std::size_t> open;
};

void XMLCALL Start(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* r = static_cast<Reading*>(data);
    ReadElement e;
    e.name = Wide(name);
    for (const XML_Char** a = atts; *a != nullptr; a += 2) e.attributes.emplace_back(Wide(a[0]), Wide(a[1]));
    r->open.push_back(r->elements.size());
    r->elements.push_back(std::move(e));
}
void XMLCALL End(void* data, const XML_Char*) { static_cast<Reading*>(data)->open.pop_back(); }
void XMLCALL Text(void* data, const XML_Char* text, int length) {
    auto* r = static_cast<Reading*>(data);
    if (r->open.empty()) return;
    std::u16string& own = r->elements[r->open.back()].text;
    for (int i = 0; i < length; ++i) own.push_back(static_cast<char16_t>(text[i]));
}

}  // namespace

std::u16string ReadElement::Attribute(const std::u16string& wanted) const {
    for (const auto& a : attributes) {
        if (a.first == wanted) return a.second;
    }
    return u"<absent>";
}

std::optional<std::vector<ReadElement>> StrictRead(const std::string& bytes) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    Reading reading;
    XML_SetUserData(parser, &reading);
    XML_SetElementHandler(parser, &Start, &End);
    XML_SetCharacterDataHandler(parser, &Text);
    const bool ok = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!ok) return std::nullopt;
    return reading.elements;
}

std::size_t ArgumentCount(int error) {
    switch (error) {
    case 4113: return 4;  // path, line, column, Expat's text
    case 4114: return 2;  // path, encoding
    case 4117: return 2;  // root name, path
    case 4118: return 6;  // path, table, row, column, text, what is wrong
    case 4119: return 4;  // path, what, line, column
    default: return 0;
    }
}

MergeBench::MergeBench() : folder_(scratch_.Path() + u"\\"), target_(scratch_ / u"target.xml") {
    DeleteNorrvikTree();
}

MergeBench::~MergeBench() { DeleteNorrvikTree(); }

void MergeBench::SetFile(const std::string& bytes) { WriteBytes(target_, bytes); }

void MergeBench::Remove() { DeleteFileLogged(ToLongPath(target_)); }

std::string MergeBench::Bytes() const { return FileExists(target_) ? ReadBytes(target_) : std::string(); }

MergeOutcome MergeBench::Run(const std::vector<ElementRow>& elements, const std::vector<AttributeRow>& attributes,
                             int mode, int fileFlags, const std::u16string& encoding) {
    const std::u16string root = rootKey_ ? *rootKey_ : elements.empty() ? u"" : elements[0].key;
    const std::vector<FileRow> files = {{u"file", u"target.xml", folder_, root, fileFlags, encoding, 2, version_}};
    const ActionSection properties = {{u"ProductCode", kProduct}};
    const std::string before = Bytes();
    const bool existed = FileExists(target_);
    MergeOutcome outcome;
    {
        auto manager = BuildManager(properties, files, elements, attributes);
        const XmlFileRecord& file = manager->data.files.at(u"file");
        try {
            if (existed) {
                UpdateXmlFile(*manager, file, mode);
            } else {
                BuildXmlFileFromScratch(manager->data, file, mode);
            }
        } catch (const Exception& e) {
            outcome.error = e.ErrorNumber() != 0 ? e.ErrorNumber() : -1;
            outcome.arguments = e.Arguments();
        }
    }
    if (outcome.error == 0) return outcome;

    // A failure leaves the file, the folder and the records as they were,
    // however the run reaches it.
    EXPECT_EQ(Bytes(), before);
    EXPECT_EQ(FolderNames(scratch_.Path()), existed ? std::vector<std::u16string>{u"target.xml"}
                                                : std::vector<std::u16string>{});
    EXPECT_FALSE(CurrentUserKeyExists(ProductBackupKey(kProduct)));
    EXPECT_EQ(outcome.arguments.size(), ArgumentCount(outcome.error)) << "error " << outcome.error;
    // A row's key or text may be empty itself; every other argument says something.
    for (const std::u16string& argument : outcome.arguments)
        EXPECT_TRUE(outcome.error == 4118 || !argument.empty()) << "error " << outcome.error;
    if (mode == XML_UPDATE_INSTALL) {
        EXPECT_EQ(ExecuteXmlUpdates(*BuildManager(properties, files, elements, attributes), mode), 1603u);
        EXPECT_EQ(Bytes(), before);
        EXPECT_EQ(FolderNames(scratch_.Path()).size(), existed ? 1u : 0u);
        EXPECT_FALSE(CurrentUserKeyExists(ProductBackupKey(kProduct)));
    }
    return outcome;
}

}  // namespace test
