#include "TreeDiff.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace host {

namespace {

constexpr std::size_t kContext = 3;
// Above this much work (edit distance times lines) the diff gives up on a
// minimal edit and replaces the changed middle as a whole.
constexpr std::size_t kMaxTraceCells = 4'000'000;

void Walk(const std::string& root, const std::string& relative, const std::set<std::string>& skip,
          TreeSnapshot* snapshot) {
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        const std::string full = root + "/" + rel;
        if (skip.count(full) != 0) continue;
        struct stat info{};
        if (::lstat(full.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            Walk(root, rel, skip, snapshot);
        } else if (S_ISREG(info.st_mode)) {
            std::ifstream in(full, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            (*snapshot)[rel] = bytes.str();
        }
    }
}

// Lines with their "\n"; the last one lacks it when the text does not end in one.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

enum class Kind { Same, Removed, Added };
struct Edit {
    Kind kind;
    std::size_t line;  // into the old lines for Same and Removed, the new ones for Added
};

// Myers' shortest edit script between a[lo..aEnd) and b[lo..bEnd).
bool ShortestEdits(const std::vector<std::string>& a, const std::vector<std::string>& b, std::size_t aLo,
                   std::size_t aHi, std::size_t bLo, std::size_t bHi, std::vector<Edit>* edits) {
    const long n = static_cast<long>(aHi - aLo), m = static_cast<long>(bHi - bLo);
    const long max = n + m;
    const long offset = max + 1;
    std::vector<long> v(static_cast<std::size_t>(2 * max + 3), 0);
    std::vector<std::vector<long>> trace;
    for (long d = 0; d <= max; ++d) {
        if (static_cast<std::size_t>(d) * static_cast<std::size_t>(2 * max + 3) > kMaxTraceCells) return false;
        trace.push_back(v);
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                    : v[offset + k - 1] + 1;
            long y = x - k;
            while (x < n && y < m && a[aLo + x] == b[bLo + y]) {
                ++x;
                ++y;
            }
            v[offset + k] = x;
            if (x >= n && y >= m) {
                // Walk back through the saved frontiers.
                std::vector<Edit> reversed;
                long cx = n, cy = m;
                for (long back = d; back > 0; --back) {
                    const std::vector<long>& prev = trace[static_cast<std::size_t>(back)];
                    const long ck = cx - cy;
                    const bool down =
                        ck == -back || (ck != back && prev[offset + ck - 1] < prev[offset + ck + 1]);
                    const long pk = down ? ck + 1 : ck - 1;
                    const long px = prev[offset + pk];
                    const long py = px - pk;
                    while (cx > px && cy > py) {
                        reversed.push_back({Kind::Same, aLo + static_cast<std::size_t>(--cx)});
                        --cy;
                    }
                    if (down) {
                        reversed.push_back({Kind::Added, bLo + static_cast<std::size_t>(--cy)});
                    } else {
                        reversed.push_back({Kind::Removed, aLo + static_cast<std::size_t>(--cx)});
                    }
                }
                while (cx > 0 && cy > 0) {
                    reversed.push_back({Kind::Same, aLo + static_cast<std::size_t>(--cx)});
                    --cy;
                }
                edits->insert(edits->end(), reversed.rbegin(), reversed.rend());
                return true;
            }
        }
    }
    return false;
}

std::vector<Edit> EditScript(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
        ++suffix;
    }
    std::vector<Edit> edits;
    for (std::size_t i = 0; i < prefix; ++i) edits.push_back({Kind::Same, i});
    const std::size_t aHi = a.size() - suffix, bHi = b.size() - suffix;
    if (!ShortestEdits(a, b, prefix, aHi, prefix, bHi, &edits)) {
        for (std::size_t i = prefix; i < aHi; ++i) edits.push_back({Kind::Removed, i});
        for (std::size_t i = prefix; i < bHi; ++i) edits.push_back({Kind::Added, i});
    }
    for (std::size_t i = aHi; i < a.size(); ++i) edits.push_back({Kind::Same, i});
    return edits;
}

// "start,count" of a hunk side; GNU diff leaves out a count of 1, and an
// empty side names the line before it.
std::string Range(std::size_t before, std::size_t count) {
    if (count == 0) return std::to_string(before) + ",0";
    if (count == 1) return std::to_string(before + 1);
    return std::to_string(before + 1) + "," + std::to_string(count);
}

void AppendLine(char mark, const std::string& line, std::string* out) {
    *out += mark;
    *out += line;
    if (line.empty() || line.back() != '\n') *out += "\n\\ No newline at end of file\n";
}

}  // namespace

TreeSnapshot SnapshotTree(const std::string& root, const std::set<std::string>& skip) {
    TreeSnapshot snapshot;
    Walk(root, "", skip, &snapshot);
    return snapshot;
}

std::string UnifiedDiff(const std::string& before, const std::string& after, const std::string& beforeLabel,
                        const std::string& afterLabel) {
    if (before == after) return std::string();
    if (before.find('\0') != std::string::npos || after.find('\0') != std::string::npos) {
        return "Binary files " + beforeLabel + " and " + afterLabel + " differ\n";
    }
    const std::vector<std::string> a = Lines(before), b = Lines(after);
    const std::vector<Edit> edits = EditScript(a, b);

    std::string out = "--- " + beforeLabel + "\n+++ " + afterLabel + "\n";
    // Old and new line numbers before each edit.
    std::vector<std::size_t> aAt(edits.size() + 1), bAt(edits.size() + 1);
    for (std::size_t i = 0; i < edits.size(); ++i) {
        aAt[i + 1] = aAt[i] + (edits[i].kind != Kind::Added ? 1 : 0);
        bAt[i + 1] = bAt[i] + (edits[i].kind != Kind::Removed ? 1 : 0);
    }
    std::size_t i = 0;
    while (i < edits.size()) {
        if (edits[i].kind == Kind::Same) {
            ++i;
            continue;
        }
        // A hunk: changes whose gaps of unchanged lines are short enough to
        // share context, with three unchanged lines on either side.
        const std::size_t first = i >= kContext ? i - kContext : 0;
        std::size_t lastChange = i;
        std::size_t j = i;
        while (j < edits.size()) {
            if (edits[j].kind != Kind::Same) {
                lastChange = j;
            } else if (j - lastChange > 2 * kContext) {
                break;
            }
            ++j;
        }
        const std::size_t end = std::min(edits.size(), lastChange + kContext + 1);
        out += "@@ -" + Range(aAt[first], aAt[end] - aAt[first]) + " +" + Range(bAt[first], bAt[end] - bAt[first]) +
               " @@\n";
        for (std::size_t k = first; k < end; ++k) {
            const Edit& edit = edits[k];
            switch (edit.kind) {
            case Kind::Same: AppendLine(' ', a[edit.line], &out); break;
            case Kind::Removed: AppendLine('-', a[edit.line], &out); break;
            case Kind::Added: AppendLine('+', b[edit.line], &out); break;
            }
        }
        i = end;
    }
    return out;
}

std::string DiffTrees(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::set<std::string> paths;
    for (const auto& entry : before) paths.insert(entry.first);
    for (const auto& entry : after) paths.insert(entry.first);
    std::string out;
    for (const std::string& path : paths) {
        const auto old = before.find(path);
        const auto now = after.find(path);
        const bool existed = old != before.end(), exists = now != after.end();
        const std::string empty;
        std::string diff = UnifiedDiff(existed ? old->second : empty, exists ? now->second : empty,
                                       existed ? "a/" + path : "/dev/null", exists ? "b/" + path : "/dev/null");
        // An empty file created or deleted changes no line but is still news.
        if (diff.empty() && existed != exists) {
            diff = "--- " + std::string(existed ? "a/" + path : "/dev/null") + "\n+++ " +
                   (exists ? "b/" + path : "/dev/null") + "\n";
        }
        out += diff;
    }
    return out;
}

}  // namespace host
