#include <algorithm>

#include "custact/XML/src/xmllocator/XmlLocatorManager.h"
#include "installer/Logger.h"

namespace {

// Siblings and roots go by Order, then by key, so that a run does not
// depend on the order of a hash map.
bool ElementLess(const LocatorElementRecord* a, const LocatorElementRecord* b) {
    return a->order != b->order ? a->order < b->order : a->key < b->key;
}

}  // namespace

void CollectXmlLocatorData(XmlLocatorManager& manager, const XmlUpdateDataReader& reader) {
    LogIfEnabled(u"CollectXmlLocatorData start.");
    manager.elements.clear();
    for (const XmlUpdateDataReader::Row& row : reader.GetSection(kLocatorElementSection)) {
        LocatorElementRecord element;
        element.key = FieldAt(row, 0);
        element.file = FieldAt(row, 1);
        element.parentKey = FieldAt(row, 2);
        element.name = FieldAt(row, 3);
        element.order = ToRecordInteger(FieldAt(row, 4));
        element.index = element.order;
        manager.elements[element.key] = std::move(element);
    }
    for (const XmlUpdateDataReader::Row& row : reader.GetSection(kLocatorSection)) {
        const auto element = manager.elements.find(FieldAt(row, 1));
        if (element == manager.elements.end()) continue;
        LocatorRecord locator;
        locator.key = FieldAt(row, 0);
        locator.elementKey = FieldAt(row, 1);
        locator.property = FieldAt(row, 2);
        locator.type = ToRecordInteger(FieldAt(row, 3));
        locator.value = FieldAt(row, 4);
        locator.resultType = ToRecordInteger(FieldAt(row, 5));
        locator.order = ToRecordInteger(FieldAt(row, 6));
        element->second.locators.push_back(std::move(locator));
    }
    ValidateXmlData(manager);
    LogIfEnabled(u"CollectXmlLocatorData end.");
}

void ValidateXmlData(XmlLocatorManager& manager) {
    LogIfEnabled(u"ValidateXmlData start.");
    manager.roots.clear();
    for (auto& entry : manager.elements) {
        LocatorElementRecord& element = entry.second;
        element.children.clear();
        const auto parent = element.parentKey.empty() ? manager.elements.end()
                                                      : manager.elements.find(element.parentKey);
        element.parent = parent == manager.elements.end() ? nullptr : &parent->second;
        std::stable_sort(element.locators.begin(), element.locators.end(),
                         [](const LocatorRecord& a, const LocatorRecord& b) { return a.order < b.order; });
    }
    for (auto& entry : manager.elements) {
        LocatorElementRecord& element = entry.second;
        if (element.parent == nullptr) {
            manager.roots.push_back(&element);
        } else {
            static_cast<LocatorElementRecord*>(element.parent)->children.push_back(&element);
        }
    }
    std::sort(manager.roots.begin(), manager.roots.end(), ElementLess);
    for (auto& entry : manager.elements)
        std::sort(entry.second.children.begin(), entry.second.children.end(), ElementLess);
    LogIfEnabled(u"ValidateXmlData end.");
}
