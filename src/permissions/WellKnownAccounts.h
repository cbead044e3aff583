// English names of Windows' well-known accounts and their SIDs. A package's
// permission rules name accounts in English; applying them by SID makes a
// rule for "Everyone" work on a German or French Windows as well.
#pragma once

#include <cstddef>

#include "installer/WideString.h"

struct WellKnownAccount {
    const char16_t* name;
    const char16_t* sid;
};

// The table in its order; a name may stand beside several SIDs, and the
// first of them is the one that counts.
const WellKnownAccount* WellKnownAccountTable(std::size_t* count);

// The SID string of a well-known account name, compared without regard to
// case; an empty text for any other name.
WideString LookupWellKnownSid(const WideString& name);
