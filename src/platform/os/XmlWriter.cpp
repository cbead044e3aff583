#include "platform/os/XmlWriter.h"

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
