// The changes a benchmark package makes, as the package generator plans
// them and the verifier checks them. Each is one line of "expected.tsv":
//
//   kind <TAB> path <TAB> key <TAB> value
//
// kind is "update" (an <add> whose "key" attribute is `key` gets the
// "value" `value`), "insert" (a new <add key=.. value=..> inside the element
// at `path`) or "text" (the <param> whose "name" is `key` gets the text
// `value`). The path of an update or a text names the parent of the element,
// in the steps of PathStep. Values are as the file means them, unescaped.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Change {
    enum Kind { kUpdate, kInsert, kText } kind;
    std::string path;
    std::string key;
    std::string value;
};

const char* KindName(Change::Kind kind);

bool WriteChanges(const std::string& file, const std::vector<Change>& changes, std::string* error);
bool ReadChanges(const std::string& file, std::vector<Change>* changes, std::string* error);

}  // namespace bench
