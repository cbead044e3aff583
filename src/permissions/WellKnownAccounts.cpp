#include "permissions/WellKnownAccounts.h"

#include <unordered_map>

namespace {

constexpr WellKnownAccount kTable[] = {
    {u"Null Authority", u"S-1-0"},
    {u"Nobody", u"S-1-0-0"},
    {u"World Authority", u"S-1-1"},
    {u"Everyone", u"S-1-1-0"},
    {u"Local Authority", u"S-1-2"},
    {u"Local", u"S-1-2-0"},
    {u"Console Logon", u"S-1-2-1"},
    {u"Creator Authority", u"S-1-3"},
    {u"Creator Owner", u"S-1-3-0"},
    {u"Creator Group", u"S-1-3-1"},
    {u"Creator Owner Server", u"S-1-3-2"},
    {u"Creator Group Server", u"S-1-3-3"},
    {u"All Services", u"S-1-5-80-0"},
    {u"Non-unique Authority", u"S-1-4"},
    {u"NT Authority", u"S-1-5"},
    {u"Dialup", u"S-1-5-1"},
    {u"Network", u"S-1-5-2"},
    {u"Batch", u"S-1-5-3"},
    {u"Interactive", u"S-1-5-4"},
    {u"Service", u"S-1-5-6"},
    {u"Anonymous", u"S-1-5-7"},
    {u"Proxy", u"S-1-5-8"},
    {u"Enterprise Domain Controllers", u"S-1-5-9"},
    {u"Principal Self", u"S-1-5-10"},
    {u"Authenticated Users", u"S-1-5-11"},
    {u"Restricted Code", u"S-1-5-12"},
    {u"Terminal Server Users", u"S-1-5-13"},
    {u"Remote Interactive Logon", u"S-1-5-14"},
    {u"NT Authority", u"S-1-5-15"},  // This Organization
    {u"NT Authority", u"S-1-5-17"},  // IUSR
    {u"Local System", u"S-1-5-18"},
    {u"NT Authority", u"S-1-5-19"},  // Local Service
    {u"NT Authority", u"S-1-5-20"},  // Network Service
    {u"Administrators", u"S-1-5-32-544"},
    {u"Users", u"S-1-5-32-545"},
    {u"Guests", u"S-1-5-32-546"},
    {u"Power Users", u"S-1-5-32-547"},
    {u"Account Operators", u"S-1-5-32-548"},
    {u"Server Operators", u"S-1-5-32-549"},
    {u"Print Operators", u"S-1-5-32-550"},
    {u"Backup Operators", u"S-1-5-32-551"},
    {u"Replicators", u"S-1-5-32-552"},
    {u"NTLM Authentication", u"S-1-5-64-10"},
    {u"SChannel Authentication", u"S-1-5-64-14"},
    {u"Digest Authentication", u"S-1-5-64-21"},
    {u"NT Service", u"S-1-5-80"},
    {u"NT VIRTUAL MACHINE\\Virtual Machines", u"S-1-5-83-0"},
    {u"Untrusted Mandatory Level", u"S-1-16-0"},
    {u"Low Mandatory Level", u"S-1-16-4096"},
    {u"Medium Mandatory Level", u"S-1-16-8192"},
    {u"Medium Plus Mandatory Level", u"S-1-16-8448"},
    {u"High Mandatory Level", u"S-1-16-12288"},
    {u"System Mandatory Level", u"S-1-16-16384"},
    {u"Protected Process Mandatory Level", u"S-1-16-20480"},
    {u"Secure Process Mandatory Level", u"S-1-16-28672"},
    {u"BUILTIN\\Pre-Windows 2000 Compatible Access", u"S-1-5-32-554"},
    {u"BUILTIN\\Remote Desktop Users", u"S-1-5-32-555"},
    {u"BUILTIN\\Network Configuration Operators", u"S-1-5-32-556"},
    {u"BUILTIN\\Incoming Forest Trust Builders", u"S-1-5-32-557"},
    {u"BUILTIN\\Performance Monitor Users", u"S-1-5-32-558"},
    {u"BUILTIN\\Performance Log Users", u"S-1-5-32-559"},
    {u"BUILTIN\\Windows Authorization Access Group", u"S-1-5-32-560"},
    {u"BUILTIN\\Terminal Server License Servers", u"S-1-5-32-561"},
    {u"BUILTIN\\Distributed COM Users", u"S-1-5-32-562"},
    {u"BUILTIN\\Cryptographic Operators", u"S-1-5-32-569"},
    {u"BUILTIN\\Event Log Readers", u"S-1-5-32-573"},
    {u"BUILTIN\\Certificate Service DCOM Access", u"S-1-5-32-574"},
    {u"BUILTIN\\RDS Remote Access Servers", u"S-1-5-32-575"},
    {u"BUILTIN\\RDS Endpoint Servers", u"S-1-5-32-576"},
    {u"BUILTIN\\RDS Management Servers", u"S-1-5-32-577"},
    {u"BUILTIN\\Hyper-V Administrators", u"S-1-5-32-578"},
    {u"BUILTIN\\Access Control Assistance Operators", u"S-1-5-32-579"},
};

WideString LowerAscii(const WideString& text) {
    WideString lower = text;
    for (char16_t& c : lower) c = ToLowerAscii(c);
    return lower;
}

// Built once, on first use; the first row of a name wins.
const std::unordered_map<WideString, WideString>& AccountMap() {
    static const std::unordered_map<WideString, WideString> map = [] {
        std::unordered_map<WideString, WideString> built;
        for (const WellKnownAccount& account : kTable) built.emplace(LowerAscii(account.name), account.sid);
        return built;
    }();
    return map;
}

}  // namespace

const WellKnownAccount* WellKnownAccountTable(std::size_t* count) {
    *count = sizeof kTable / sizeof kTable[0];
    return kTable;
}

WideString LookupWellKnownSid(const WideString& name) {
    const auto& map = AccountMap();
    const auto found = map.find(LowerAscii(name));
    return found == map.end() ? WideString() : found->second;
}
