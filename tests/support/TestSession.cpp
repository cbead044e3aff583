#include "support/TestSession.h"

namespace test {

std::u16string FormatLogged(InstallerHandle install, const std::u16string& field) {
    MsiHandle record(platform::MsiCreateRecord(1));
    platform::MsiRecordSetStringW(record.Get(), 0, u"[1]");
    platform::MsiRecordSetStringW(record.Get(), 1, field.c_str());
    return FormatInstallerRecord(install, record.Get());
}

}  // namespace test
