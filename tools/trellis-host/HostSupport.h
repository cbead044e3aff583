// What the parts of trellis-host share: custom action types, reading the
// package's rows, and the texts a log line is made of.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace host {

namespace msi = platform::posix::msi;

// Custom action type bits.
constexpr int kTypeBaseMask = 0x3F;
constexpr int kTypeDllBinary = 1;
constexpr int kTypeDllFile = 17;
constexpr int kTypeError = 19;
constexpr int kTypeSetDirectory = 35;
constexpr int kTypeSetProperty = 51;
constexpr int kTypeContinue = 0x40;
constexpr int kTypeRollback = 0x100;
constexpr int kTypeCommit = 0x200;
constexpr int kTypeInScript = 0x400;
constexpr int kTypeHideTarget = 0x2000;

// What the log shows for a value it hides.
constexpr char16_t kHiddenValue[] = u"**********";

// The rows a query gives; none when the package lacks the table.
inline std::vector<msi::Record> Rows(const platform::posix::InstallerSession& session, const char16_t* query) {
    std::vector<msi::Record> rows;
    if (session.Database()) msi::QueryRows(*session.Database(), query, &rows);
    return rows;
}

// Field 1 is the first column.
inline std::u16string Text(const msi::Record& row, std::size_t field) {
    return field < row.fields.size() ? msi::FieldText(row.fields[field]) : std::u16string();
}

inline int Integer(const msi::Record& row, std::size_t field, int fallback) {
    if (field >= row.fields.size() || row.fields[field].kind != msi::Field::Kind::Integer) return fallback;
    return row.fields[field].integer;
}

inline std::u16string Number(long value) { return strings::FromUtf8(std::to_string(value)); }

// The non-empty pieces of a list such as "A;B;;C".
inline std::vector<std::u16string> SplitOn(const std::u16string& text, char16_t separator) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::u16string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Results that end an installation: a failure or a cancel.
inline bool IsFailure(std::uint32_t result) {
    return result == platform::kErrorInstallFailure || result == platform::kErrorInstallUserExit;
}

}  // namespace host
