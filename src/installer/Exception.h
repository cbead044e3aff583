// The engine's failures: numbered errors (rows of the package's Error table)
// and text errors. The engine makes no COM calls and its text layer reports
// no HRESULTs, so it has no error types for them; std::bad_alloc and the
// like arrive as standard exceptions.
//
// Failures are thrown and caught only at the few operations that own a
// file or a run; those call ReportCurrentException from their catch (...)
// block, which applies the one catch order of the whole library.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "installer/MsiText.h"
#include "installer/WideString.h"

// Where a failure was raised: the source file relative to src/, as the build
// gives it, and the line.
#define TRELLIS_HERE __FILE__, static_cast<std::uint32_t>(__LINE__)

class Exception {
public:
    // A text error.
    Exception(const char* source, std::uint32_t line, WideString description);
    // A numbered error; the arguments fill the message's fields 2, 3 and so on.
    Exception(const char* source, std::uint32_t line, std::int32_t errorNumber,
              std::initializer_list<WideString> arguments = {});

    const WideString& Source() const { return source_; }
    std::uint32_t Line() const { return line_; }
    std::int32_t ErrorNumber() const { return errorNumber_; }
    const WideString& Description() const { return description_; }
    const std::vector<WideString>& Arguments() const { return arguments_; }

    // "source:line -> description" or "source:line -> ERROR: number".
    WideString LogText() const;
    void Log() const;
    // Immediate phase: a message box; deferred phase: SendToInstaller.
    void Show(InstallerHandle install) const;
    // A warning with the description, or an error record with the number and
    // arguments that the installer formats from its own Error table.
    void SendToInstaller(InstallerHandle install) const;

private:
    WideString source_;
    std::uint32_t line_;
    std::int32_t errorNumber_;
    WideString description_;
    std::vector<WideString> arguments_;
};

// Call only inside a catch block. Logs and shows the exception being handled
// in this order: standard-library exception (logged), Exception (logged and
// shown), anything else ("Unknown exception !").
void ReportCurrentException(InstallerHandle install);
// Call only inside a catch block: the exception being handled as one line
// of text, in the same catch order ("error 4113: C:\web.config, 3, 5, ..."
// for a numbered error).
WideString DescribeCurrentException();
