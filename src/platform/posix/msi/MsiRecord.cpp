// Record functions of the POSIX Windows Installer stand-in. Records are our
// own, not libmsi's, so that MsiCreateRecord works without any database.
#include <cstring>
#include <limits>

#include "platform/posix/msi/MsiInternal.h"

namespace platform {

using posix::msi::Field;
using posix::msi::Find;
using posix::msi::Record;

namespace {

constexpr std::uint32_t kErrorInvalidData = 13;

// msi.dll refuses records above this many fields.
constexpr std::uint32_t kMaxFieldCount = 65535;

// msi.dll's reading of a string field as an integer: an optional minus sign
// and decimal digits, nothing else, within the int range.
bool ParseInteger(const std::u16string& text, int* value) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == u'-';
    if (negative) i = 1;
    if (i == text.size()) return false;
    long long result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        result = result * 10 + (text[i] - u'0');
        if (result > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return false;
    }
    if (negative) result = -result;
    if (result > std::numeric_limits<int>::max() || result == kMsiNullInteger) return false;
    *value = static_cast<int>(result);
    return true;
}

}  // namespace

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
    auto found = Find<Record>(record);
    if (!found) return kErrorInvalidHandle;
    if (length == nullptr) return kErrorInvalidParameter;
    // A field past the end reads like a null one.
    if (field > found->Count()) return posix::msi::CopyOut(u"", value, length);
    // A stream field has no text; msi.dll reads it as empty.
    const Field& f = found->fields[field];
    if (f.kind == Field::Kind::String) return posix::msi::CopyOut(f.text, value, length);
    return posix::msi::CopyOut(posix::msi::FieldText(f), value, length);
}

int MsiRecordGetInteger(MSIHANDLE record, std::uint32_t field) {
    auto found = Find<Record>(record);
    if (!found || field > found->Count()) return kMsiNullInteger;
    const Field& f = found->fields[field];
    int value = 0;
    switch (f.kind) {
        case Field::Kind::Integer:
            return f.integer;
        case Field::Kind::String:
            return ParseInteger(f.text, &value) ? value : kMsiNullInteger;
        case Field::Kind::Null:
        case Field::Kind::Stream:
            break;
    }
    return kMsiNullInteger;
}

std::uint32_t MsiRecordSetStringW(MSIHANDLE record, std::uint32_t field, const char16_t* value) {
    auto found = Find<Record>(record);
    if (!found) return kErrorInvalidHandle;
    if (field > found->Count()) return kErrorInvalidParameter;
    Field& f = found->fields[field];
    f = Field();
    // A null pointer and an empty string both make the field null.
    if (value != nullptr && *value != u'\0') {
        f.kind = Field::Kind::String;
        f.text = value;
    }
    return kErrorSuccess;
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
