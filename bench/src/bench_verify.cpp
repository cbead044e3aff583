// bench-verify: checks that a merged file is what the package should have
// made of the original, so that a fast but wrong merge cannot pass.
//
//   bench-verify ORIGINAL MERGED EXPECTED.tsv
//
// MERGED must be well-formed; every change of EXPECTED.tsv (see Changes.h)
// must be in it exactly once, with its value; it must hold as many elements
// as ORIGINAL plus the new ones; and every line of ORIGINAL except the
// changed elements' must be in MERGED, byte for byte and in order, with only
// the changed and the new elements' lines between them.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "Changes.h"
#include "XmlStream.h"

namespace {

using bench::Change;

// Finds the elements that the changes name, and the lines they take.
class ChangeScan : public bench::XmlStream {
public:
    explicit ChangeScan(const std::vector<Change>& changes) : changes_(changes) {
        found.assign(changes.size(), 0);
        values.resize(changes.size());
        for (std::size_t i = 0; i < changes.size(); ++i) byKey_.emplace(changes[i].key, i);
    }

    std::vector<int> found;               // how often each change's element was met
    std::vector<std::string> values;      // the value or text it had (the last one met)
    std::vector<long> changedLines;       // lines of the elements met, sorted after the scan
    std::uint64_t elements = 0;

protected:
    void OnStart(const char* name, const char** attributes, const std::string& parentPath, int /*depth*/) override {
        ++elements;
        const std::string element = name;
        long match = -1;
        if (element == "add" || element == "param") {
            const char* key = bench::FindAttribute(attributes, element == "add" ? "key" : "name");
            if (key != nullptr) match = Find(key, parentPath, element == "param");
        }
        frames_.push_back({match, Line(), std::string()});
        if (match >= 0 && element == "add") {
            const char* value = bench::FindAttribute(attributes, "value");
            values[static_cast<std::size_t>(match)] = value ? value : "(no value attribute)";
        }
    }

    void OnEnd(const char* name, const std::string& /*path*/, int /*depth*/) override {
        const Frame& f = frames_.back();
        if (f.match >= 0) {
            const std::size_t i = static_cast<std::size_t>(f.match);
            ++found[i];
            if (std::string(name) == "param") values[i] = Trimmed(f.text);
            for (long line = f.line; line <= Line(); ++line) changedLines.push_back(line);
        }
        frames_.pop_back();
    }

    void OnText(const char* text, int length) override {
        if (!frames_.empty() && frames_.back().match >= 0) frames_.back().text.append(text, static_cast<std::size_t>(length));
    }

private:
    struct Frame {
        long match;
        long line;
        std::string text;
    };

    long Find(const std::string& key, const std::string& parentPath, bool param) const {
        const auto range = byKey_.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            const Change& c = changes_[it->second];
            if ((c.kind == Change::kText) == param && c.path == parentPath) return static_cast<long>(it->second);
        }
        return -1;
    }

    static std::string Trimmed(const std::string& s) {
        const std::size_t first = s.find_first_not_of(" \t\r\n");
        if (first == std::string::npos) return std::string();
        return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
    }

    const std::vector<Change>& changes_;
    std::unordered_multimap<std::string, std::size_t> byKey_;
    std::vector<Frame> frames_;
};

std::string Describe(const Change& c) {
    return std::string(bench::KindName(c.kind)) + " " + c.path + " " + c.key + " = \"" + c.value + "\"";
}

// A line as it can be shown: long ones cut, carriage returns and tabs visible.
std::string Shown(const std::string& line) {
    std::string shown;
    for (char c : line.substr(0, 200)) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\t') {
            shown += "\\t";
        } else {
            shown += c;
        }
    }
    return line.size() > 200 ? shown + "..." : shown;
}

// Reads the lines of a file (split after each line feed), leaving out the
// lines listed in `skip` (sorted, numbered from 1).
class LineReader {
public:
    LineReader(const std::string& file, const std::vector<long>& skip) : in_(file, std::ios::binary), skip_(skip) {}

    bool Next(std::string* line) {
        while (std::getline(in_, *line)) {
            ++number_;
            while (next_ < skip_.size() && skip_[next_] < number_) ++next_;
            if (next_ < skip_.size() && skip_[next_] == number_) continue;
            return true;
        }
        return false;
    }
    long Number() const { return number_; }

private:
    std::ifstream in_;
    const std::vector<long>& skip_;
    std::size_t next_ = 0;
    long number_ = 0;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "bench-verify: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-verify ORIGINAL MERGED EXPECTED.tsv\n");
        return 2;
    }
    const std::string originalFile = argv[1];
    const std::string mergedFile = argv[2];
    std::vector<Change> changes;
    std::string error;
    if (!bench::ReadChanges(argv[3], &changes, &error)) return Fail(error);

    ChangeScan original(changes);
    if (!original.Parse(originalFile, &error)) return Fail("the original is not well-formed: " + error);
    ChangeScan merged(changes);
    if (!merged.Parse(mergedFile, &error)) return Fail("the merged file is not well-formed: " + error);

    std::size_t inserts = 0;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        const int before = original.found[i];
        if (c.kind == Change::kInsert) {
            ++inserts;
            if (before != 0) return Fail("the original already has the new element: " + Describe(c));
        } else if (before != 1) {
            return Fail("the original has " + std::to_string(before) + " elements for " + Describe(c));
        } else if (original.values[i] == c.value) {
            return Fail("the original already holds the value, so the check would prove nothing: " + Describe(c));
        }
        if (merged.found[i] != 1)
            return Fail("the merged file has " + std::to_string(merged.found[i]) + " elements for " + Describe(c));
        if (merged.values[i] != c.value)
            return Fail("the merged file has \"" + merged.values[i] + "\" instead of " + Describe(c));
    }
    if (merged.elements != original.elements + inserts) {
        return Fail("the merged file has " + std::to_string(merged.elements) + " elements, not " +
                    std::to_string(original.elements) + " + " + std::to_string(inserts));
    }

    std::sort(original.changedLines.begin(), original.changedLines.end());
    std::sort(merged.changedLines.begin(), merged.changedLines.end());
    LineReader before(originalFile, original.changedLines);
    LineReader after(mergedFile, merged.changedLines);
    std::string a;
    std::string b;
    std::uint64_t same = 0;
    for (;;) {
        const bool moreBefore = before.Next(&a);
        const bool moreAfter = after.Next(&b);
        if (!moreBefore && !moreAfter) break;
        if (moreBefore != moreAfter || a != b) {
            return Fail("line " + std::to_string(after.Number()) + " of the merged file should be line " +
                        std::to_string(before.Number()) + " of the original, unchanged:\n  original: " +
                        (moreBefore ? Shown(a) : "(end of file)") +
                        "\n  merged:   " + (moreAfter ? Shown(b) : "(end of file)"));
        }
        ++same;
    }
    std::printf("verified: %zu changes (%zu new elements) in place; the other %llu lines unchanged\n", changes.size(),
                inserts, static_cast<unsigned long long>(same));
    return 0;
}
