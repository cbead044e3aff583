// Managers built the way the deferred actions build them: from a
// CustomActionData text written from literal table rows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "custact/XML/src/xml/XmlManager.h"
#include "support/BackupTestSupport.h"

namespace test {

// QM_XmlFile: key, file name, folder (with its trailing backslash), root
// element key, flags, encoding, indent units, version.
struct FileRow {
    std::u16string key;
    std::u16string name;
    std::u16string folder;
    std::u16string root;
    int flags;
    std::u16string encoding = u"UTF-8";
    int indentUnits = 1;
    std::u16string version = u"1.0";
};
// QM_XmlElement: key, parent key, name, order, flags, text, update index.
struct ElementRow {
    std::u16string key;
    std::u16string parent;
    std::u16string name;
    int order;
    int flags;
    std::u16string text;
    int updateIndex;
};
// QM_XmlAttribute: element key, name, flags, order, value.
struct AttributeRow {
    std::u16string element;
    std::u16string name;
    int flags;
    int order;
    std::u16string value;
};

std::unique_ptr<XmlManager> BuildManager(const ActionSection& properties, const std::vector<FileRow>& files,
                                         const std::vector<ElementRow>& elements,
                                         const std::vector<AttributeRow>& attributes);

}  // namespace test
