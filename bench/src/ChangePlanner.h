// Picks the changes of a benchmark package from an existing file: updates
// of <add key=.. value=..> elements, new <add> elements in elements that
// already hold some, and new texts of <param name=..> elements.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Changes.h"

namespace bench {

// One element on the way from the root: its name, and its "name" attribute
// when it has one, which the package's rows use to tell siblings apart.
struct Step {
    std::string name;
    bool named = false;
    std::string nameValue;
};

struct PlannedChange {
    Change change;
    std::vector<Step> chain;  // from the root to the parent (for an insert, to the new element's parent)
};

struct PlanOptions {
    int changes = 10;
    std::uint64_t seed = 1;
    // Spread the changes evenly over the file, or take the deepest elements.
    bool deepest = false;
};

// About 70% updates, 15% new elements and 15% texts; when the file has too
// few elements of a kind, new elements make up the difference.
bool PlanChanges(const std::string& file, const PlanOptions& options, std::vector<PlannedChange>* changes,
                 std::string* error);

}  // namespace bench
