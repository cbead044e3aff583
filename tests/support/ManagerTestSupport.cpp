#include "support/ManagerTestSupport.h"

#include "custact/XML/src/xml/XmlCollect.h"

namespace test {

std::unique_ptr<XmlManager> BuildManager(const ActionSection& properties, const std::vector<FileRow>& files,
                                         const std::vector<ElementRow>& elements,
                                         const std::vector<AttributeRow>& attributes) {
    ActionSection fileRows;
    for (const FileRow& f : files) {
        fileRows.push_back({f.key, f.name, f.folder, u"Comp", f.root, ToWideDecimal(f.flags), f.version, f.encoding,
                            ToWideDecimal(f.indentUnits), u""});
    }
    ActionSection elementRows;
    for (const ElementRow& e : elements) {
        elementRows.push_back({e.key, e.parent, e.name, u"", ToWideDecimal(e.order), ToWideDecimal(e.flags), e.text,
                               ToWideDecimal(e.updateIndex)});
    }
    ActionSection attributeRows;
    for (const AttributeRow& a : attributes) {
        attributeRows.push_back({u"attr" + ToWideDecimal(static_cast<std::int64_t>(attributeRows.size())), a.element,
                                 a.name, ToWideDecimal(a.flags), ToWideDecimal(a.order), a.value});
    }
    XmlUpdateDataReader reader(ActionDataText({properties, fileRows, elementRows, attributeRows}));
    reader.Parse();
    auto manager = std::make_unique<XmlManager>(0);
    CollectXmlData(*manager, reader);
    return manager;
}

}  // namespace test
