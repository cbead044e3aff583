#include "platform/os/XmlWriter.h"

#include <algorithm>

#include "platform/os/XmlEscape.h"

WideString XmlWriter::Indent() const {
    WideString indent;
    for (int i = 0; i < depth_; ++i) indent += indentUnit_;
    return indent;
}

WideString XmlWriter::GetDeclaration() const {
    return u"<?xml version=\"" + version_ + u"\" encoding=\"" + encodingName_ + u"\" standalone=\"" +
           (standalone_ ? u"yes" : u"no") + u"\"?>";
}

void XmlWriter::WriteStartElement(const WideString& name) { Write(Indent() + u"<" + name); }

void XmlWriter::WriteAttribute(const WideString& name, const WideString& value) {
    if (name.empty() || (value.empty() && skipEmptyAttributes_)) return;
    Write(u" " + name + u"=\"" + EscapeAttribute(value) + u"\"");
}

void XmlWriter::CloseStartElement(const WideString& name, bool isLeaf, const WideString& text) {
    if (!isLeaf) {
        Write(u">" + lineEnd_);
        openElements_.push_back(name);
        ++depth_;
        if (!text.empty()) Write(Indent() + EscapeText(text) + lineEnd_);
    } else if (text.empty()) {
        Write(u"/>" + lineEnd_);
    } else {
        Write(u">" + EscapeText(text) + u"</" + name + u">" + lineEnd_);
    }
}

bool XmlWriter::WriteEndElement(const WideString& name) {
    if (openElements_.empty() || openElements_.back() != name) return false;
    --depth_;
    Write(Indent() + u"</" + name + u">" + lineEnd_);
    openElements_.pop_back();
    return true;
}

void XmlWriter::WriteComment(const WideString& text) { Write(Indent() + u"<!-- " + text + u" -->" + lineEnd_); }

void XmlWriter::WriteRecord(XmlElementMap& elements, XmlElementRecord& record, int mode, bool skipEmptyValues) {
    if (record.flags & kXmlElementComment) {
        WriteComment(record.text);
        record.SetProcessed(true);
        return;
    }
    if (record.flags & kXmlElementRemoveOnInstall) {
        record.SetProcessed(true);
        return;
    }

    std::vector<const XmlAttributeRecord*> attributes;
    for (const XmlAttributeRecord& a : record.attributes) {
        if ((a.flags & kXmlAttributeBelongs) && AttributeTakesPart(a.flags, mode)) attributes.push_back(&a);
    }
    std::stable_sort(attributes.begin(), attributes.end(),
                     [](const XmlAttributeRecord* a, const XmlAttributeRecord* b) { return a->order < b->order; });
    // One attribute per name: the first in order wins.
    std::vector<const XmlAttributeRecord*> unique;
    for (const XmlAttributeRecord* a : attributes) {
        if (std::none_of(unique.begin(), unique.end(), [a](const XmlAttributeRecord* u) { return u->name == a->name; }))
            unique.push_back(a);
    }

    std::vector<XmlElementRecord*> children;
    for (auto& entry : elements) {
        if (entry.second.parent == &record) children.push_back(&entry.second);
    }
    std::stable_sort(children.begin(), children.end(),
                     [](const XmlElementRecord* a, const XmlElementRecord* b) { return a->index < b->index; });

    skipEmptyAttributes_ = skipEmptyValues;
    WriteStartElement(record.name);
    for (const XmlAttributeRecord* a : unique) WriteAttribute(a->name, a->value);
    CloseStartElement(record.name, children.empty(), record.text);
    for (XmlElementRecord* child : children) WriteRecord(elements, *child, mode, skipEmptyValues);
    if (!children.empty()) WriteEndElement(record.name);
    record.SetProcessed(true);
}
