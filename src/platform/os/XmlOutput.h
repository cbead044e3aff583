// Text collected in memory and written to a file in one go, in the file's
// XML encoding: the stream under the XML writer.
#pragma once

#include <cstdint>
#include <functional>

#include "installer/WideString.h"
#include "platform/os/AtomicFile.h"
#include "platform/os/XmlEncoding.h"

// Failure levels given to the error handler.
constexpr int kXmlOutputNoEncoding = 0;
constexpr int kXmlOutputOpenFailed = 1;
constexpr int kXmlOutputWriteFailed = 2;

// Called with where the failure was found (source, line), its level, the
// file path and a message. The creator decides what a report does; when the
// handler returns, the output goes on as far as it can.
using XmlOutputErrorHandler = std::function<void(const char* source, std::uint32_t line, int level,
                                                 const WideString& path, const WideString& message)>;

class XmlOutput {
public:
    // An empty path suits text that is only read back from Buffer().
    XmlOutput(WideString path, XmlOutputErrorHandler onError);

    // XmlEncoding::None reports level 0; a value outside the table is kept,
    // and nothing will be written with it.
    void SetEncoding(XmlEncoding encoding);
    XmlEncoding Encoding() const { return encoding_; }
    // Append to an existing file instead of replacing it.
    void SetAppend(bool append) { append_ = append; }
    // Whether the file may exist already (EitherWay) or must be new.
    void SetReplaceMode(ReplaceMode mode) { mode_ = mode; }

    void Write(const WideString& text);
    // Writes the buffer to the file in one step (AtomicReplaceFile) and
    // clears it; nothing for an empty buffer. A UTF-16 file gets FF FE
    // first, unless it already has bytes. A failure to make the file is
    // reported as level 1 and then 2, a failure to write it as level 2,
    // with the reason as the message.
    void Flush();

    const WideString& Buffer() const { return buffer_; }
    const WideString& Path() const { return path_; }
    // Line feeds written so far.
    std::uint32_t LineCount() const { return lines_; }

    // Write statuses.
    static constexpr int kWritten = 0;
    static constexpr int kNoOpenFile = 1;
    static constexpr int kNothingToWrite = 3;
    static constexpr int kWriteFailed = 4;

protected:
    void Report(const char* source, std::uint32_t line, int level, const WideString& message) const;

private:
    XmlOutputErrorHandler onError_;
    WideString path_;
    WideString buffer_;
    bool append_ = false;
    ReplaceMode mode_ = ReplaceMode::EitherWay;
    std::uint32_t lines_ = 0;
    XmlEncoding encoding_ = XmlEncoding::Utf8;
};
