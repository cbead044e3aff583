#include "Changes.h"

#include <fstream>
#include <sstream>

namespace bench {

const char* KindName(Change::Kind kind) {
    switch (kind) {
        case Change::kUpdate: return "update";
        case Change::kInsert: return "insert";
        case Change::kText: return "text";
    }
    return "?";
}

bool WriteChanges(const std::string& file, const std::vector<Change>& changes, std::string* error) {
    std::ofstream out(file, std::ios::binary);
    for (const Change& c : changes) out << KindName(c.kind) << '\t' << c.path << '\t' << c.key << '\t' << c.value << '\n';
    out.close();
    if (!out) *error = file + ": cannot write";
    return static_cast<bool>(out);
}

bool ReadChanges(const std::string& file, std::vector<Change>* changes, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = file + ": cannot open";
        return false;
    }
    changes->clear();
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (fields.size() == 3) fields.emplace_back();  // an empty value
        Change c{Change::kUpdate, "", "", ""};
        if (fields.size() != 4) {
            *error = file + ":" + std::to_string(number) + ": expected four tab-separated fields";
            return false;
        }
        if (fields[0] == "update") {
            c.kind = Change::kUpdate;
        } else if (fields[0] == "insert") {
            c.kind = Change::kInsert;
        } else if (fields[0] == "text") {
            c.kind = Change::kText;
        } else {
            *error = file + ":" + std::to_string(number) + ": unknown kind '" + fields[0] + "'";
            return false;
        }
        c.path = fields[1];
        c.key = fields[2];
        c.value = fields[3];
        changes->push_back(std::move(c));
    }
    return true;
}

}  // namespace bench
