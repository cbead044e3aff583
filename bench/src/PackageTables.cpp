#include "PackageTables.h"

#include <fstream>

#include "XmlStream.h"

namespace bench {

namespace {

// Element flags: 4 add when missing, 8 update the first match, 16 update
// every match. Attribute flags: 1 identifies the element, 2 belongs to it,
// 4 sets the value, 8 takes part in installation.
constexpr int kInsertIfMissing = 4;
constexpr int kUpdateFirst = 8;
constexpr int kUpdateAll = 16;
constexpr int kIdentifies = 1 + 2 + 8;
constexpr int kSets = 2 + 4 + 8;

}  // namespace

std::string PackageTables::AddElement(const std::string& prefix, const std::string& parent, const std::string& name,
                                      int flags, const std::string& text) {
    const std::string key = parent.empty() ? "Root" : prefix + std::to_string(elements_.size());
    elements_.push_back({key, parent, name, static_cast<int>(elements_.size()), flags, text});
    return key;
}

void PackageTables::AddAttribute(const std::string& element, const std::string& name, int flags,
                                 const std::string& value) {
    attributes_.push_back({element + "_" + name, element, name, flags, static_cast<int>(attributes_.size()), value});
}

std::string PackageTables::RowOf(const std::vector<Step>& chain) {
    std::string path;
    std::string row;
    for (const Step& step : chain) {
        if (!path.empty()) path += '/';
        path += PathStep(step.name, step.named ? step.nameValue.c_str() : nullptr);
        auto found = rowOfPath_.find(path);
        if (found == rowOfPath_.end()) {
            // Rows on the way change nothing themselves: an update whose
            // only attribute identifies the element.
            const std::string key = AddElement("Path", row, step.name, row.empty() ? 0 : kUpdateFirst, "");
            if (step.named && !row.empty()) AddAttribute(key, "name", kIdentifies, step.nameValue);
            found = rowOfPath_.emplace(path, key).first;
        }
        row = found->second;
    }
    return row;
}

void PackageTables::Add(const PlannedChange& planned) {
    const Change& c = planned.change;
    const std::string parent = RowOf(planned.chain);
    switch (c.kind) {
        case Change::kUpdate: {
            const std::string key = AddElement("Update", parent, "add", kUpdateFirst, "");
            AddAttribute(key, "key", kIdentifies, c.key);
            AddAttribute(key, "value", kSets, c.value);
            break;
        }
        case Change::kInsert: {
            const std::string key = AddElement("Insert", parent, "add", kInsertIfMissing, "");
            AddAttribute(key, "key", kIdentifies, c.key);
            AddAttribute(key, "value", kSets, c.value);
            break;
        }
        case Change::kText: {
            const std::string key = AddElement("Text", parent, "param", kUpdateAll, c.value);
            AddAttribute(key, "name", kIdentifies, c.key);
            break;
        }
    }
}

bool PackageTables::Write(const std::string& dir, std::string* error) const {
    {
        std::ofstream out(dir + "/QM_XmlElement.idt", std::ios::binary);
        out << "XmlElement\tParentElement\tName\tCondition\tOrder\tFlags\tText\tUpdateIndexInParent\n"
               "s72\tS72\tS255\tS255\tI4\tI4\tL0\tI4\n"
               "QM_XmlElement\tXmlElement\n";
        for (const ElementRow& r : elements_)
            out << r.key << '\t' << r.parent << '\t' << r.name << "\t1\t" << r.order << '\t' << r.flags << '\t' << r.text
                << "\t0\n";
        if (!out) {
            *error = dir + "/QM_XmlElement.idt: cannot write";
            return false;
        }
    }
    std::ofstream out(dir + "/QM_XmlAttribute.idt", std::ios::binary);
    out << "XmlAttribute\tXmlElement\tName\tFlags\tOrder\tValue\n"
           "s72\ts72\ts255\tI4\tI4\tL0\n"
           "QM_XmlAttribute\tXmlAttribute\n";
    for (const AttributeRow& r : attributes_)
        out << r.key << '\t' << r.element << '\t' << r.name << '\t' << r.flags << '\t' << r.order << '\t' << r.value
            << '\n';
    if (!out) *error = dir + "/QM_XmlAttribute.idt: cannot write";
    return static_cast<bool>(out);
}

}  // namespace bench
