#include "platform/os/XmlWriter.h"

#include <algorithm>

#include "platform/os/XmlEscape.h"

WideString XmlWriter::Indent() const {
    WideString indent = baseIndent_;
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

void XmlWriter::WriteRecord(XmlUpdateData& data, XmlElementRecord& record, int mode, bool skipEmptyValues) {
    // Elements still waiting for their end tag, with the next child to
    // write: a loop instead of recursion, so that no depth of rows can
    // exhaust the stack.
    struct Open {
        XmlElementRecord* record;
        const std::vector<XmlElementRecord*>* children;
        std::size_t next;
    };
    std::vector<Open> open;
    skipEmptyAttributes_ = skipEmptyValues;
    const auto start = [&](XmlElementRecord& r) {
        if (r.flags & kXmlElementComment) {
            WriteComment(r.text);
            r.SetProcessed(true);
            return;
        }
        if (r.flags & kXmlElementRemoveOnInstall) {
            r.SetProcessed(true);
            return;
        }
        std::vector<const XmlAttributeRecord*> attributes;
        for (const XmlAttributeRecord& a : r.attributes) {
            if ((a.flags & kXmlAttributeBelongs) && AttributeTakesPart(a.flags, mode)) attributes.push_back(&a);
        }
        std::stable_sort(attributes.begin(), attributes.end(),
                         [](const XmlAttributeRecord* a, const XmlAttributeRecord* b) { return a->order < b->order; });
        // One attribute per name: the first in order wins.
        std::vector<const XmlAttributeRecord*> unique;
        for (const XmlAttributeRecord* a : attributes) {
            if (std::none_of(unique.begin(), unique.end(),
                             [a](const XmlAttributeRecord* u) { return u->name == a->name; }))
                unique.push_back(a);
        }
        const std::vector<XmlElementRecord*>& children = data.ChildrenOf(&r);
        WriteStartElement(r.name);
        for (const XmlAttributeRecord* a : unique) WriteAttribute(a->name, a->value);
        CloseStartElement(r.name, children.empty(), r.text);
        if (children.empty()) {
            r.SetProcessed(true);
        } else {
            open.push_back({&r, &children, 0});
        }
    };
    start(record);
    while (!open.empty()) {
        Open& innermost = open.back();
        if (innermost.next < innermost.children->size()) {
            XmlElementRecord* child = (*innermost.children)[innermost.next++];
            start(*child);
            continue;
        }
        WriteEndElement(innermost.record->name);
        innermost.record->SetProcessed(true);
        open.pop_back();
    }
}
