#include "custact/XML/src/xml/SourceFragments.h"

#include <algorithm>
#include <vector>

#include "custact/XML/src/xml/FolderPath.h"
#include "custact/XML/src/xml/XmlRecordCheck.h"
#include "custact/XML/src/xml/XmlTargetDatabase.h"
#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/os/XmlEncoding.h"
#include "platform/os/XmlWriter.h"

namespace {

// Writer reports become the engine's numbered errors, raised where the
// writer found the failure. Other levels are not failures: the writer goes on.
void ThrowWriterError(const char* source, std::uint32_t line, int level, const WideString& path,
                      const WideString& message) {
    LogIfEnabled(message);
    switch (level) {
    case kXmlOutputNoEncoding:
        throw Exception(source, line, 4114, {path, message});
    case kXmlOutputOpenFailed:
        throw Exception(source, line, 4115, {path});
    case kXmlOutputWriteFailed:
        throw Exception(source, line, 4116, {path});
    default:
        break;
    }
}

}  // namespace

void WriteRecord(XmlWriter& writer, XmlUpdateData& data, XmlElementRecord& record, int mode, bool skipEmptyValues) {
    // Elements still waiting for their end tag, with the next child to
    // write: a loop instead of recursion, so that no depth of rows can
    // exhaust the stack.
    struct Open {
        XmlElementRecord* record;
        const std::vector<XmlElementRecord*>* children;
        std::size_t next;
    };
    std::vector<Open> open;
    writer.SetSkipEmptyAttributes(skipEmptyValues);
    const auto start = [&](XmlElementRecord& r) {
        if (r.flags & kXmlElementComment) {
            writer.WriteComment(r.text);
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
        writer.WriteStartElement(r.name);
        for (const XmlAttributeRecord* a : unique) writer.WriteAttribute(a->name, a->value);
        writer.CloseStartElement(r.name, children.empty(), r.text);
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
        writer.WriteEndElement(innermost.record->name);
        innermost.record->SetProcessed(true);
        open.pop_back();
    }
}

void BuildXmlFileFromScratch(XmlUpdateData& data, const XmlFileRecord& file, int mode,
                             const std::function<void()>& beforeWrite) {
    LogIfEnabled(u"BuildXmlFileFromScratch start.");
    // Everything is checked before the folders are made.
    CheckXmlFileRows(data, file);
    CheckNewXmlFile(file);
    const WideString path = GetFullPath(file);
    const XmlEncoding encoding = FindXmlEncoding(file.encoding);
    if (encoding == XmlEncoding::None)
        throw Exception(TRELLIS_HERE, 4114, {path, file.encoding.empty() ? u"(none named)" : file.encoding});
    CheckXmlFileRowsFit(data, file, encoding);

    XmlWriter writer(path, ThrowWriterError);
    writer.SetReplaceMode(ReplaceMode::NewFile);
    writer.SetVersion(file.version);
    writer.SetEncoding(encoding);
    // The declaration names the encoding as the table spells it, whatever
    // letter case the package used.
    writer.SetEncodingName(XmlEncodingName(encoding));
    writer.SetIndentUnit(MakeIndent(file, 1));
    writer.SetStandalone((file.flags & kXmlFileStandalone) != 0);

    writer.Write(writer.GetDeclaration() + u"\r\n");
    WriteRecord(writer, data, *file.root, mode, (file.flags & kXmlFileSkipEmptyAttributes) != 0);
    while (!writer.OpenElements().empty()) {
        const WideString innermost = writer.OpenElements().back();
        writer.WriteEndElement(innermost);
    }
    if (beforeWrite) beforeWrite();
    const std::vector<WideString> folders = CreateFolderPath(path);
    try {
        writer.Flush();
    } catch (...) {
        RemoveCreatedFolders(folders);
        throw;
    }
    LogIfEnabled(u"BuildXmlFileFromScratch end.");
}

WideString BuildXmlFragment(XmlUpdateData& data, const XmlFileRecord& file, XmlElementRecord& source, int mode) {
    return BuildXmlFragment(data, source, mode, {MakeIndent(file, NodeDepth(source)), MakeIndent(file, 1), u"\r\n"});
}

WideString BuildXmlFragment(XmlUpdateData& data, XmlElementRecord& source, int mode, const FragmentLayout& layout) {
    LogIfEnabled(u"BuildXmlFragment start.");
    // "~" marks a writer whose text is read back and never flushed.
    XmlWriter writer(u"~", ThrowWriterError);
    writer.SetIndentUnit(layout.unit);
    writer.SetBaseIndent(layout.indent);
    writer.SetLineEnd(layout.lineEnd);
    // An existing file keeps every attribute we insert, empty ones included:
    // skipping empty values is a choice for new files only.
    WriteRecord(writer, data, source, mode, false);
    LogIfEnabled(u"BuildXmlFragment end.");
    return writer.Buffer();
}
