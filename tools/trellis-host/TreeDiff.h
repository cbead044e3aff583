// What a run did to the files under the sandbox root, as a unified diff
// (--diff): every file created, changed or deleted.
#pragma once

#include <map>
#include <set>
#include <string>

namespace host {

// The regular files under a folder by their path relative to it ("C/App/web.config"),
// with their bytes. Paths in `skip` (absolute, as given) are left out.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot SnapshotTree(const std::string& root, const std::set<std::string>& skip = {});

// The unified diff of two texts with three lines of context, under the
// given "---" and "+++" labels; empty when the texts are equal. A file that
// holds a NUL byte is binary and reported in one line.
std::string UnifiedDiff(const std::string& before, const std::string& after, const std::string& beforeLabel,
                        const std::string& afterLabel);

// The diffs of every file that differs between the snapshots, in path
// order; a created file is compared with /dev/null, as is a deleted one.
std::string DiffTrees(const TreeSnapshot& before, const TreeSnapshot& after);

}  // namespace host
