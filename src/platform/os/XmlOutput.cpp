#include "platform/os/XmlOutput.h"

#include <algorithm>

#include "installer/Exception.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"

namespace {

// What an existing file holds, when output is appended to it.
struct Existing {
    bool opened = false;
    std::string bytes;
};

Existing ReadExisting(const WideString& path) {
    Existing existing;
    platform::File file = platform::File::OpenForRead(path);
    if (!file.IsOpen()) {
        // A missing file is created empty; any other failure stops the write.
        const std::uint32_t error = platform::GetLastError();
        existing.opened = error == platform::kErrorFileNotFound;
        return existing;
    }
    std::uint64_t size = 0;
    if (!file.GetSize(&size) || size > 0x7FFFFFFFu) return existing;
    existing.bytes.resize(static_cast<std::size_t>(size));
    std::uint32_t read = 0;
    if (size > 0 && (!file.Read(&existing.bytes[0], static_cast<std::uint32_t>(size), &read) || read != size))
        return existing;
    existing.opened = true;
    return existing;
}

}  // namespace

XmlOutput::XmlOutput(WideString path, XmlOutputErrorHandler onError)
    : onError_(std::move(onError)), path_(std::move(path)) {}

void XmlOutput::Report(const char* source, std::uint32_t line, int level, const WideString& message) const {
    if (onError_) onError_(source, line, level, path_, message);
}

void XmlOutput::SetEncoding(XmlEncoding encoding) {
    if (encoding == XmlEncoding::None) {
        Report(TRELLIS_HERE, kXmlOutputNoEncoding, u"No encoding was chosen for the XML output.");
        return;
    }
    encoding_ = encoding;
}

void XmlOutput::Write(const WideString& text) {
    buffer_ += text;
    lines_ += static_cast<std::uint32_t>(std::count(text.begin(), text.end(), u'\n'));
}

void XmlOutput::Flush() {
    if (buffer_.empty()) return;
    const WideString path = ToLongPath(path_);
    // Appending rewrites the old bytes followed by the new ones: the file
    // layer opens files only to read or to replace them.
    Existing existing;
    if (append_) existing = ReadExisting(path);
    platform::File file;
    if (!append_ || existing.opened) file = platform::File::Create(path);
    if (!file.IsOpen()) Report(TRELLIS_HERE, kXmlOutputOpenFailed, u"The XML file could not be opened for writing.");

    // The byte order mark only opens a file; it is never repeated inside one.
    std::string bytes = EncodeXmlText(encoding_, buffer_);
    if (encoding_ == XmlEncoding::Utf16 && !bytes.empty() && existing.bytes.empty()) bytes.insert(0, "\xFF\xFE");

    int status = kWritten;
    if (!file.IsOpen()) {
        Report(TRELLIS_HERE, kXmlOutputWriteFailed, u"There is no open file to write the XML text to.");
        status = kNoOpenFile;
    } else if (bytes.empty()) {
        status = kNothingToWrite;
    } else {
        const std::string all = existing.bytes + bytes;
        if (all.size() > 0xFFFFFFFFu || !file.Write(all.data(), static_cast<std::uint32_t>(all.size())))
            status = kWriteFailed;
    }
    if (status != kWritten) {
        Report(TRELLIS_HERE, kXmlOutputWriteFailed,
               u"Writing the XML file failed with status " + ToWideDecimal(status) + u".");
    }
    buffer_.clear();
}
