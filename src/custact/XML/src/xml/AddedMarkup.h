// What an install added to an existing file that taking its elements out
// again would not undo: the comments it inserted, and the end tags it
// rewrote to make room for new children (an empty-element tag opened up, or
// an end tag moved onto a line of its own). The uninstall reads it to give
// the file back as it was.
//
// It is kept beside the product's backup entries, as one more value of the
// product's key named "AddedMarkup|" and the target path ("|" is never part
// of a path), so it goes with that key. Registry failures are not reported:
// reads give nothing and writes do nothing.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "installer/WideString.h"

// Elements are named by their path with indices ("root/a[0]/b[3]") as the
// file reads after the install: the indices count element siblings only.
struct AddedComment {
    WideString parent;  // the element holding the comment
    WideString text;    // as the row gave it
};

struct RewrittenEnd {
    WideString element;
    // Empty before: the tail replaced everything after the name or the last
    // attribute ("/>", " />", "></x>"); otherwise only what followed the
    // element's last content (blanks and the end tag).
    bool wasEmpty = false;
    std::int32_t children = 0;  // element children it still had after the install
    WideString tail;            // the text the install replaced
};

struct AddedMarkup {
    std::vector<AddedComment> comments;
    std::vector<RewrittenEnd> ends;
    bool Empty() const { return comments.empty() && ends.empty(); }
};

// One line per entry, fields separated by tabs; "\", tab, CR and LF inside a
// field are escaped as "\\", "\t", "\r" and "\n".
WideString FormatAddedMarkup(const AddedMarkup& added);
// Lines that do not read as an entry are skipped.
AddedMarkup ParseAddedMarkup(std::u16string_view text);

// Adds the entries to what is recorded for the file, leaving out those
// already there (an element keeps the first tail recorded for it). The
// run's first record of the file also keeps, in a value named after the
// record and the run id, what was recorded before the run: its rollback
// puts that back, its commit drops it.
void RecordAddedMarkup(const WideString& productKey, const WideString& runId, const WideString& targetPath,
                       const AddedMarkup& added);
void RollBackAddedMarkup(const WideString& productKey, const WideString& runId, const WideString& targetPath);
void CommitAddedMarkup(const WideString& productKey, const WideString& runId, const WideString& targetPath);
AddedMarkup ReadAddedMarkup(const WideString& productKey, const WideString& targetPath);
void ForgetAddedMarkup(const WideString& productKey, const WideString& targetPath);
