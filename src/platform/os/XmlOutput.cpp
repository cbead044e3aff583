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
    // Appending rewrites the old bytes followed by the new ones.
    Existing existing;
    if (append_) existing = ReadExisting(ToLongPath(path_));

    // The byte order mark only opens a file; it is never repeated inside one.
    std::string bytes = EncodeXmlText(encoding_, buffer_);
    if (encoding_ == XmlEncoding::Utf16 && !bytes.empty() && existing.bytes.empty()) bytes.insert(0, "\xFF\xFE");

    int status = kWritten;
    FileWriteFailure failure;
    if (append_ && !existing.opened) {
        Report(TRELLIS_HERE, kXmlOutputOpenFailed, u"The XML file could not be opened for writing.");
        status = kNoOpenFile;
    } else if (bytes.empty()) {
        status = kNothingToWrite;
    } else if (!AtomicReplaceFile(path_, existing.bytes + bytes, mode_, &failure)) {
        const bool opened = failure.stage == FileWriteFailure::Stage::Write ||
                            failure.stage == FileWriteFailure::Stage::Replace;
        if (!opened) Report(TRELLIS_HERE, kXmlOutputOpenFailed, DescribeFailure(failure));
        status = opened ? kWriteFailed : kNoOpenFile;
    }
    if (status != kWritten) {
        Report(TRELLIS_HERE, kXmlOutputWriteFailed,
               status == kWriteFailed ? DescribeFailure(failure)
                                      : u"Writing the XML file failed with status " + ToWideDecimal(status) + u".");
    }
    buffer_.clear();
}
