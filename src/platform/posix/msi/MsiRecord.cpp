// Record functions of the POSIX Windows Installer stand-in. Records are our
// own, not libmsi's, so that MsiCreateRecord works without any database.
#include <cstring>
#include <limits>

#include "platform/posix/msi/MsiInternal.h"

namespace platform {

using posix::msi::Field;
using posix::msi::Find;
using posix::msi::Record;
using posix::msi::WithObject;

namespace {

constexpr std::uint32_t kErrorInvalidData = 13;

// msi.dll refuses records above this many fields.
constexpr std::uint32_t kMaxFieldCount = 65535;

}  // namespace

bool posix::msi::ParseInteger(const std::u16string& text, bool allowMinus, int* value) {
    std::size_t i = allowMinus && !text.empty() && text[0] == u'-' ? 1 : 0;
    if (i == text.size()) return false;
    std::int64_t result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        result = result * 10 + (text[i] - u'0');
        // Detect and prevent overflow: past INT_MAX + 1 no digit brings it back.
        if (result > std::int64_t{std::numeric_limits<int>::max()} + 1) return false;
    }
    if (i > 0 && text[0] == u'-') result = -result;
    if (result > std::numeric_limits<int>::max()) return false;
    *value = static_cast<int>(result);
    return true;
}

MSIHANDLE MsiCreateRecord(std::uint32_t fieldCount) {
    if (fieldCount > kMaxFieldCount) return 0;
    return posix::msi::AddHandle(std::make_shared<Record>(fieldCount));
}

std::uint32_t MsiRecordGetFieldCount(MSIHANDLE record) {
    auto found = Find<Record>(record);
    return found ? found->Count() : static_cast<std::uint32_t>(-1);
}

std::uint32_t MsiRecordGetStringW(MSIHANDLE record, std::uint32_t field, char16_t* value,
                                  std::uint32_t* length) {
    std::uint32_t result = kErrorInvalidHandle;
    WithObject<Record>(record, [&](Record& found) {
        if (length == nullptr) {
            result = kErrorInvalidParameter;
        } else if (field > found.Count()) {
            // A field past the end reads like a null one.
            result = posix::msi::CopyOut(u"", value, length);
        } else if (found.fields[field].kind == Field::Kind::String) {
            result = posix::msi::CopyOut(found.fields[field].text, value, length);
        } else {
            // A stream field has no text; msi.dll reads it as empty.
            result = posix::msi::CopyOut(posix::msi::FieldText(found.fields[field]), value, length);
        }
    });
    return result;
}

int MsiRecordGetInteger(MSIHANDLE record, std::uint32_t field) {
    int result = kMsiNullInteger;
    WithObject<Record>(record, [&](Record& found) {
        if (field > found.Count()) return;
        const Field& f = found.fields[field];
        int value = 0;
        if (f.kind == Field::Kind::Integer) {
            result = f.integer;
        } else if (f.kind == Field::Kind::String && posix::msi::ParseInteger(f.text, true, &value)) {
            // msi.dll reads a string field as an integer only when the
            // whole text is one ("-2147483648" is the null value itself).
            result = value;
        }
    });
    return result;
}

std::uint32_t MsiRecordSetStringW(MSIHANDLE record, std::uint32_t field, const char16_t* value) {
    std::uint32_t result = kErrorInvalidHandle;
    WithObject<Record>(record, [&](Record& found) {
        if (field > found.Count()) {
            result = kErrorInvalidParameter;
            return;
        }
        result = kErrorSuccess;
        Field& f = found.fields[field];
        // A null pointer and an empty string both make the field null.
        if (value == nullptr || *value == u'\0') {
            f = Field();
            return;
        }
        // The text is assigned in place: a record reused for every log line
        // keeps its buffer.
        f.kind = Field::Kind::String;
        f.text = value;
        f.integer = 0;
        f.bytes = std::string();
        f.readPosition = 0;
    });
    return result;
}

std::uint32_t MsiRecordSetInteger(MSIHANDLE record, std::uint32_t field, int value) {
    auto found = Find<Record>(record);
    if (!found) return kErrorInvalidHandle;
    if (field > found->Count()) return kErrorInvalidParameter;
    Field& f = found->fields[field];
    f = Field();
    if (value != kMsiNullInteger) {
        f.kind = Field::Kind::Integer;
        f.integer = value;
    }
    return kErrorSuccess;
}

std::uint32_t MsiRecordReadStream(MSIHANDLE record, std::uint32_t field, char* buffer,
                                  std::uint32_t* length) {
    auto found = Find<Record>(record);
    if (!found) return kErrorInvalidHandle;
    if (length == nullptr || field > found->Count()) return kErrorInvalidParameter;
    Field& f = found->fields[field];
    // A null cell of a stream column is no stream: msi.dll answers
    // ERROR_INVALID_DATA there and ERROR_INVALID_DATATYPE for other kinds.
    if (f.kind == Field::Kind::Null) {
        *length = 0;
        return kErrorInvalidData;
    }
    if (f.kind != Field::Kind::Stream) return posix::msi::kErrorInvalidDatatype;
    const std::size_t remaining = f.bytes.size() - f.readPosition;
    if (buffer == nullptr) {
        *length = static_cast<std::uint32_t>(remaining);
        return kErrorSuccess;
    }
    const std::size_t count = remaining < *length ? remaining : *length;
    std::memcpy(buffer, f.bytes.data() + f.readPosition, count);
    f.readPosition += count;
    *length = static_cast<std::uint32_t>(count);
    return kErrorSuccess;
}

}  // namespace platform
