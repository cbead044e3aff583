// Runs tests/data/installer-cases.txt through Windows Installer itself (under
// Wine: Wine's msi.dll) in a live session and prints one result line a case:
//
//   installer_cases.exe CASES PACKAGE > results.txt
//
// The package is installed first when the list asks for it (so that some
// components and features are installed) and removed again at the end.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "platform/Strings.h"
#include "support/InstallerCases.h"

namespace {

std::wstring W(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::u16string U(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::string StateText(INSTALLSTATE installed, INSTALLSTATE action) {
    return std::to_string(static_cast<int>(installed)) + " " + std::to_string(static_cast<int>(action));
}

class WindowsInstallerTarget : public test::InstallerCaseTarget {
public:
    explicit WindowsInstallerTarget(MSIHANDLE session) : session_(session) {}

    void SetProperty(const std::u16string& name, const std::u16string& value) override {
        MsiSetPropertyW(session_, W(name).c_str(), W(value).c_str());
    }
    void SetEnvironment(const std::u16string& name, const std::u16string& value) override {
        SetEnvironmentVariableW(W(name).c_str(), value.empty() ? nullptr : W(value).c_str());
    }
    std::string SetComponent(const std::u16string& name, int, int action) override {
        const UINT rc = MsiSetComponentStateW(session_, W(name).c_str(), static_cast<INSTALLSTATE>(action));
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, actual = INSTALLSTATE_UNKNOWN;
        const UINT get = MsiGetComponentStateW(session_, W(name).c_str(), &installed, &actual);
        if (rc != ERROR_SUCCESS || get != ERROR_SUCCESS) {
            return "error " + std::to_string(rc) + " " + std::to_string(get);
        }
        return StateText(installed, actual);
    }
    std::string SetFeature(const std::u16string& name, int, int action) override {
        const UINT rc = MsiSetFeatureStateW(session_, W(name).c_str(), static_cast<INSTALLSTATE>(action));
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, actual = INSTALLSTATE_UNKNOWN;
        const UINT get = MsiGetFeatureStateW(session_, W(name).c_str(), &installed, &actual);
        if (rc != ERROR_SUCCESS || get != ERROR_SUCCESS) {
            return "error " + std::to_string(rc) + " " + std::to_string(get);
        }
        return StateText(installed, actual);
    }
    void SetFile(const std::u16string&, const std::u16string&, const std::u16string&) override {}
    void SetComponentDirectory(const std::u16string&, const std::u16string&) override {}

    int Evaluate(const std::u16string& condition) override {
        return static_cast<int>(MsiEvaluateConditionW(session_, W(condition).c_str()));
    }

    std::u16string Format(bool withSession, const std::vector<std::optional<std::u16string>>& fields,
                          unsigned* error) override {
        const MSIHANDLE record = MsiCreateRecord(static_cast<UINT>(fields.size() - 1));
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i]) MsiRecordSetStringW(record, static_cast<UINT>(i), W(*fields[i]).c_str());
        }
        const MSIHANDLE install = withSession ? session_ : 0;
        DWORD length = 0;
        wchar_t empty[1] = {0};
        UINT rc = MsiFormatRecordW(install, record, empty, &length);
        std::wstring text;
        if (rc == ERROR_MORE_DATA || rc == ERROR_SUCCESS) {
            text.assign(length + 1, L'\0');
            DWORD size = length + 1;
            rc = MsiFormatRecordW(install, record, &text[0], &size);
            text.resize(size);
        }
        MsiCloseHandle(record);
        *error = rc;
        return U(text);
    }

private:
    MSIHANDLE session_;
};

std::u16string ProductCode(const std::wstring& package) {
    MSIHANDLE database = 0;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return u"";
    MSIHANDLE view = 0, record = 0;
    std::wstring code(64, L'\0');
    DWORD size = 64;
    if (MsiDatabaseOpenViewW(database, L"SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'", &view) ==
            ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS &&
        MsiRecordGetStringW(record, 1, &code[0], &size) == ERROR_SUCCESS) {
        code.resize(size);
    } else {
        code.clear();
    }
    if (record != 0) MsiCloseHandle(record);
    if (view != 0) MsiCloseHandle(view);
    MsiCloseHandle(database);
    return U(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: installer_cases CASES PACKAGE\n");
        return 2;
    }
    std::vector<test::InstallerCase> cases;
    std::string error;
    if (!test::ReadInstallerCases(argv[1], &cases, &error)) {
        std::fprintf(stderr, "installer_cases: %s\n", error.c_str());
        return 2;
    }
    const std::wstring package = W(strings::FromUtf8(argv[2]));
    // The lines are compared byte for byte: no CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

    bool installed = false;
    for (const test::InstallerCase& c : cases) {
        if (c.keyword != "install") continue;
        const UINT rc = MsiInstallProductW(package.c_str(), W(c.args[0]).c_str());
        if (rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "installer_cases: installing %s failed with %u\n", argv[2], rc);
            return 1;
        }
        installed = true;
    }

    MSIHANDLE session = 0;
    UINT rc = MsiOpenPackageW(package.c_str(), &session);
    if (rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "installer_cases: MsiOpenPackageW(%s) failed with %u\n", argv[2], rc);
        return 1;
    }
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
        rc = MsiDoActionW(session, action);
        if (rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "installer_cases: %ls failed with %u\n", action, rc);
            return 1;
        }
    }
    WindowsInstallerTarget target(session);
    for (const std::string& line : test::RunInstallerCases(cases, target)) std::printf("%s\n", line.c_str());
    MsiCloseHandle(session);

    if (installed) {
        const std::u16string code = ProductCode(package);
        rc = MsiConfigureProductW(W(code).c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
        if (rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "installer_cases: removing the product failed with %u\n", rc);
            return 1;
        }
    }
    return 0;
}
