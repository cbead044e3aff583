// Writes XML markup into an XmlOutput: new files and the fragments that are
// inserted into existing ones. Line ends are "\r\n" unless set otherwise;
// each line is indented by the base indentation and the unit once per
// depth. It knows elements, attributes and comments, not the engine's
// records: WriteRecord (SourceFragments.h) walks those.
#pragma once

#include <vector>

#include "installer/WideString.h"
#include "platform/os/XmlOutput.h"

class XmlWriter : public XmlOutput {
public:
    using XmlOutput::XmlOutput;

    void SetIndentUnit(WideString unit) { indentUnit_ = std::move(unit); }
    // What every line starts with before the units of its depth.
    void SetBaseIndent(WideString indent) { baseIndent_ = std::move(indent); }
    void SetLineEnd(WideString lineEnd) { lineEnd_ = std::move(lineEnd); }
    // Fragments start at the depth of the place they are inserted at.
    void SetDepth(int depth) { depth_ = depth; }
    int Depth() const { return depth_; }
    void SetSkipEmptyAttributes(bool skip) { skipEmptyAttributes_ = skip; }
    void SetStandalone(bool standalone) { standalone_ = standalone; }
    void SetVersion(WideString version) { version_ = std::move(version); }
    void SetEncodingName(WideString name) { encodingName_ = std::move(name); }
    // Names of the elements still open, outermost first.
    const std::vector<WideString>& OpenElements() const { return openElements_; }

    // <?xml version="..." encoding="..." standalone="yes|no"?>
    WideString GetDeclaration() const;
    void WriteStartElement(const WideString& name);
    void WriteAttribute(const WideString& name, const WideString& value);
    // Ends the start tag: an element with children stays open (its text on
    // a line of its own), a leaf is closed on the same line.
    void CloseStartElement(const WideString& name, bool isLeaf, const WideString& text);
    // False, writing nothing, when name is not the innermost open element.
    bool WriteEndElement(const WideString& name);
    // The text is written as it is.
    void WriteComment(const WideString& text);

private:
    WideString Indent() const;

    int depth_ = 0;
    bool skipEmptyAttributes_ = false;
    std::vector<WideString> openElements_;
    WideString lineEnd_ = u"\r\n";
    WideString indentUnit_ = u"  ";
    WideString baseIndent_;
    bool standalone_ = true;
    WideString version_ = u"1.0";
    WideString encodingName_;
};
