// The QM_XmlElement and QM_XmlAttribute rows of a benchmark package, built
// from planned changes. Every element on the way to a change gets one row
// (shared by all changes below it), identified by its "name" attribute when
// it has one; the root row is "Root".
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "ChangePlanner.h"

namespace bench {

class PackageTables {
public:
    void Add(const PlannedChange& change);
    // Writes DIR/QM_XmlElement.idt and DIR/QM_XmlAttribute.idt.
    bool Write(const std::string& dir, std::string* error) const;

private:
    struct ElementRow {
        std::string key, parent, name;
        int order, flags;
        std::string text;
    };
    struct AttributeRow {
        std::string key, element, name;
        int flags, order;
        std::string value;
    };

    // The row of the last element of the chain, created with its ancestors'
    // rows when missing.
    std::string RowOf(const std::vector<Step>& chain);
    std::string AddElement(const std::string& prefix, const std::string& parent, const std::string& name, int flags,
                           const std::string& text);
    void AddAttribute(const std::string& element, const std::string& name, int flags, const std::string& value);

    std::vector<ElementRow> elements_;
    std::vector<AttributeRow> attributes_;
    std::unordered_map<std::string, std::string> rowOfPath_;
};

}  // namespace bench
