// The target's elements as TargetNode records, for tests and the locators.
// The engine works on element ids; records cost what the old node table
// cost, so they are built only when first asked for.
#include "custact/XML/src/xml/XmlTargetDatabase.h"

bool TargetNode::IsProcessed() const { return db_ != nullptr ? db_->IsProcessed(id) : XmlNodeRecord::IsProcessed(); }

void TargetNode::SetProcessed(bool on) {
    if (db_ != nullptr) {
        db_->SetProcessed(id, on);
    } else {
        XmlNodeRecord::SetProcessed(on);
    }
}

void XmlTargetDatabase::BuildRecords() const {
    if (records_) return;
    records_ = std::make_unique<TargetNodeMap>();
    records_->reserve(nodes_.size());
    recordById_.assign(nodes_.size(), nullptr);
    // Parents come before their children in id order.
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        const WideString key = KeyOf(id);
        TargetNode& record = (*records_)[key];
        record.id = id;
        record.db_ = const_cast<XmlTargetDatabase*>(this);
        record.key = key;
        record.name = NameOf(id);
        record.index = IndexOf(id);
        if (ParentOf(id) != kNoNode) {
            record.parent = recordById_[ParentOf(id)];
            recordById_[ParentOf(id)]->children.push_back(&record);
        }
        recordById_[id] = &record;
    }
}

void XmlTargetDatabase::RefreshRecords() const {
    if (!records_) return;
    const std::int32_t unit = updater_.UnitSize();
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        TargetNode& record = *recordById_[id];
        const NodeData& node = nodes_[id];
        record.text = TextOf(id);
        record.attributes = AttributesOf(id);
        record.start = Place(id, NodePlace::Start);
        record.attrStart = Place(id, NodePlace::AttrStart);
        record.startTagEnd = Place(id, NodePlace::StartTagEnd);
        record.endTagStart = Place(id, NodePlace::EndTagStart);
        record.end = Place(id, NodePlace::End);
        record.textRanges = TextRangesOf(id);
        record.startLine = LineOf(node.start);
        // Expat reports the end of an empty-element tag at its ">".
        record.endLine = LineOf(node.endTagStart == node.end ? node.end - unit : node.endTagStart);
    }
}

TargetNode* XmlTargetDatabase::Root() const {
    if (nodes_.empty()) return nullptr;
    BuildRecords();
    RefreshRecords();
    return recordById_[0];
}

TargetNodeMap& XmlTargetDatabase::Nodes() {
    BuildRecords();
    RefreshRecords();
    return *records_;
}

const TargetNodeMap& XmlTargetDatabase::Nodes() const {
    BuildRecords();
    RefreshRecords();
    return *records_;
}

void XmlTargetDatabase::FindMatchingNodes(const XmlNodeRecord& source, int mode, std::vector<TargetNode*>& out) {
    std::vector<NodeId> ids;
    FindMatchingNodes(source, mode, ids);
    BuildRecords();
    RefreshRecords();
    out.clear();
    for (NodeId id : ids) out.push_back(recordById_[id]);
}

int XmlTargetDatabase::CountChildren(const XmlNodeRecord* parent, const WideString& name) const {
    const auto* node = dynamic_cast<const TargetNode*>(parent);
    return node == nullptr ? 0 : CountChildren(node->id, name);
}

void XmlTargetDatabase::RemoveNodeAndChildren(TargetNode& node) {
    RemoveNodeAndChildren(node.id);
    RefreshRecords();
}

void XmlTargetDatabase::UpdateXmlNode(const XmlFileRecord& file, TargetNode& target, XmlElementRecord& source,
                                      int mode) {
    UpdateXmlNode(file, target.id, source, mode);
    RefreshRecords();
}

void XmlTargetDatabase::UpdateNodeAttributes(TargetNode& target, const XmlElementRecord& source, int mode) {
    UpdateNodeAttributes(target.id, source, mode);
    RefreshRecords();
}

void XmlTargetDatabase::UpdateNodeText(const XmlFileRecord& file, TargetNode& target, const XmlElementRecord& source) {
    UpdateNodeText(file, target.id, source);
    RefreshRecords();
}
