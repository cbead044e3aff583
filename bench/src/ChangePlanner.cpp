#include "ChangePlanner.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "ConfigWriter.h"
#include "Random.h"
#include "XmlStream.h"

namespace bench {

namespace {

// Rows nest at most 1000 levels below the root row.
constexpr int kDeepestRow = 1000;

// Where the changes can go, counted in document order. The same walk runs
// twice: once to count, once to collect what was picked.
class CandidateScan : public XmlStream {
public:
    struct Picked {
        std::vector<std::size_t> adds, params, containers;  // sorted indices
    };

    std::vector<int> addDepths, paramDepths, containerDepths;

    // With picks, the second walk: the picked candidates are collected.
    void Collect(const Picked* picked) {
        picked_ = picked;
        addDepths.clear();
        paramDepths.clear();
        containerDepths.clear();
    }

    std::vector<PlannedChange> updates, texts, containers;

protected:
    void OnStart(const char* name, const char** attributes, const std::string& parentPath, int depth) override {
        if (!frames_.empty()) frames_.back().hasChildren = true;
        const char* nameAttribute = FindAttribute(attributes, "name");
        const std::string element = name;
        if (element == "add" && depth <= kDeepestRow && !frames_.empty()) {
            const char* key = FindAttribute(attributes, "key");
            const char* value = FindAttribute(attributes, "value");
            if (key != nullptr && value != nullptr) {
                ++frames_.back().adds;
                if (IsPicked(picked_ ? &picked_->adds : nullptr, addDepths.size()))
                    updates.push_back({{Change::kUpdate, parentPath, key, value}, chain_});
                addDepths.push_back(depth);
            }
        }
        const bool param = element == "param" && nameAttribute != nullptr && depth <= kDeepestRow;
        frames_.push_back({param, false, 0, param ? parentPath : std::string(), param ? nameAttribute : "",
                           std::string()});
        if (picked_ != nullptr) chain_.push_back({element, nameAttribute != nullptr, nameAttribute ? nameAttribute : ""});
    }

    void OnEnd(const char* /*name*/, const std::string& path, int depth) override {
        Frame& f = frames_.back();
        if (f.param && !f.hasChildren) {
            if (IsPicked(picked_ ? &picked_->params : nullptr, paramDepths.size())) {
                std::vector<Step> parents(chain_.begin(), chain_.end() - 1);
                texts.push_back({{Change::kText, f.parentPath, f.nameValue, f.text}, std::move(parents)});
            }
            paramDepths.push_back(depth);
        }
        if (f.adds > 0 && depth < kDeepestRow) {
            if (IsPicked(picked_ ? &picked_->containers : nullptr, containerDepths.size()))
                containers.push_back({{Change::kInsert, path, "", ""}, chain_});
            containerDepths.push_back(depth);
        }
        frames_.pop_back();
        if (picked_ != nullptr) chain_.pop_back();
    }

    void OnText(const char* text, int length) override {
        if (!frames_.empty() && frames_.back().param) frames_.back().text.append(text, static_cast<std::size_t>(length));
    }

private:
    struct Frame {
        bool param;
        bool hasChildren;
        int adds;
        std::string parentPath;  // of <param> elements only
        std::string nameValue;
        std::string text;
    };

    // Picks come in document order, as the candidates do.
    static bool IsPicked(const std::vector<std::size_t>* picks, std::size_t index) {
        return picks != nullptr && std::binary_search(picks->begin(), picks->end(), index);
    }

    const Picked* picked_ = nullptr;
    std::vector<Frame> frames_;
    std::vector<Step> chain_;
};

// `count` distinct candidates, sorted: spread evenly at random, or the
// deepest ones (the first in the file among equally deep ones).
std::vector<std::size_t> Pick(Random& random, const std::vector<int>& depths, std::size_t count, bool deepest) {
    std::vector<std::size_t> picked;
    if (deepest) {
        picked.resize(depths.size());
        std::iota(picked.begin(), picked.end(), 0);
        std::stable_sort(picked.begin(), picked.end(), [&](std::size_t a, std::size_t b) { return depths[a] > depths[b]; });
        picked.resize(count);
    } else {
        // Floyd's sampling: `count` draws, whatever the number of candidates.
        std::unordered_set<std::size_t> chosen;
        for (std::size_t j = depths.size() - count; j < depths.size(); ++j) {
            const std::size_t t = random.Below(j + 1);
            chosen.insert(chosen.count(t) ? j : t);
        }
        picked.assign(chosen.begin(), chosen.end());
    }
    std::sort(picked.begin(), picked.end());
    return picked;
}

// A value a table row can hold: references written out as their
// characters (the library escapes them again), and ASCII only, which any
// code page of a package can hold (MakeValue writes ASCII anyway).
std::string ForTable(std::string text) {
    const std::pair<const char*, const char*> kReferences[] = {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}};
    for (const auto& [reference, character] : kReferences) {
        for (std::size_t at = text.find(reference); at != std::string::npos; at = text.find(reference, at + 1))
            text.replace(at, std::char_traits<char>::length(reference), character);
    }
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }),
               text.end());
    return text;
}

std::string Trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

bool PlanChanges(const std::string& file, const PlanOptions& options, std::vector<PlannedChange>* changes,
                 std::string* error) {
    CandidateScan scan;
    if (!scan.Parse(file, error)) return false;

    const std::size_t total = static_cast<std::size_t>(options.changes);
    std::size_t texts = std::min((total * 15 + 50) / 100, scan.paramDepths.size());
    std::size_t inserts = (total * 15 + 50) / 100;
    std::size_t updates = total - texts - std::min(inserts, total - texts);
    updates = std::min(updates, scan.addDepths.size());
    inserts = total - texts - updates;
    if (inserts > 0 && scan.containerDepths.empty()) {
        *error = file + " has too few <add> and <param> elements for " + std::to_string(total) + " changes";
        return false;
    }

    Random random(options.seed * 1000003u + total);
    CandidateScan::Picked picked;
    picked.adds = Pick(random, scan.addDepths, updates, options.deepest);
    picked.params = Pick(random, scan.paramDepths, texts, options.deepest);
    // New elements may share a parent; the deepest parent takes them all.
    const std::size_t deepestParent =
        scan.containerDepths.empty() ? 0 : Pick(random, scan.containerDepths, 1, true).front();
    std::vector<std::size_t> parents;
    for (std::size_t i = 0; i < inserts; ++i)
        parents.push_back(options.deepest ? deepestParent : random.Below(scan.containerDepths.size()));
    std::sort(parents.begin(), parents.end());
    picked.containers = parents;
    picked.containers.erase(std::unique(picked.containers.begin(), picked.containers.end()), picked.containers.end());

    scan.Collect(&picked);
    if (!scan.Parse(file, error)) return false;

    changes->clear();
    for (PlannedChange& c : scan.updates) {
        const std::string old = c.change.value;
        c.change.value = ForTable(MakeValue(random));
        if (c.change.value == old) c.change.value += ".1";
        changes->push_back(std::move(c));
    }
    for (PlannedChange& c : scan.texts) {
        const std::string old = Trimmed(c.change.value);
        c.change.value = ForTable(MakeText(random, true));
        if (c.change.value == old) c.change.value += " Again.";
        changes->push_back(std::move(c));
    }
    std::size_t added = 0;
    for (std::size_t i = 0, p = 0; i < parents.size(); ++i) {
        while (picked.containers[p] != parents[i]) ++p;
        PlannedChange c = scan.containers[p];
        c.change.key = "BenchAdded." + std::to_string(++added);
        c.change.value = ForTable(MakeValue(random));
        changes->push_back(std::move(c));
    }
    return true;
}

}  // namespace bench
