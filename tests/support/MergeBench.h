// One target file and one package plan, run the way the deferred actions
// run them, with what every run must leave behind checked: a failed file
// keeps every byte and leaves no backup and no backup record; a merged
// file reads back with a plain Expat parser.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/ManagerTestSupport.h"
#include "support/ScratchFolder.h"

namespace test {

// An element as a plain Expat parse (no handler beyond the elements, no
// added encodings) reports it; the text is its own character data.
struct ReadElement {
    std::u16string name;
    std::vector<std::pair<std::u16string, std::u16string>> attributes;
    std::u16string text;
    std::u16string Attribute(const std::u16string& name) const;
};
// Every element in document order; none when the bytes are not XML that
// Expat reads by itself.
std::optional<std::vector<ReadElement>> StrictRead(const std::string& bytes);

struct MergeOutcome {
    int error = 0;  // the Exception's number; -1 a text error; 0 success
    std::vector<std::u16string> arguments;
};

class MergeBench {
public:
    MergeBench();
    ~MergeBench();

    // The file the plan names (target.xml); Remove leaves it missing.
    void SetFile(const std::string& bytes);
    void Remove();
    // QM_XmlFile.RootElement; the first element row's key unless set.
    void SetRootKey(std::u16string key) { rootKey_ = std::move(key); }
    void SetVersion(std::u16string version) { version_ = std::move(version); }
    std::string Bytes() const;
    const std::u16string& Path() const { return target_; }
    const std::u16string& Folder() const { return folder_; }

    // Runs the one file in this mode through the per-file operation that
    // ProcessXmlFile would call, and reports its exception. On failure it
    // checks that nothing changed, that no backup file or record is left,
    // and that ExecuteXmlUpdates gives 1603 for an install and again
    // changes nothing.
    MergeOutcome Run(const std::vector<ElementRow>& elements, const std::vector<AttributeRow>& attributes, int mode,
                     int fileFlags = 0, const std::u16string& encoding = u"UTF-8");

private:
    ScratchFolder scratch_;
    std::u16string folder_;
    std::u16string target_;
    std::optional<std::u16string> rootKey_;
    std::u16string version_ = u"1.0";
};

// The number of arguments each error carries (file path first).
std::size_t ArgumentCount(int error);

}  // namespace test
