// bench-gen: writes the benchmark's target files and packages.
//
//   bench-gen config  --bytes N [--seed S] [--eol crlf|lf] [--indent N] OUT.xml
//   bench-gen nested  --depth N [--eol crlf|lf] OUT.xml
//   bench-gen package --file FILE.xml --changes R [--seed S] [--deepest] DIR
//
// `package` picks R changes in FILE and writes DIR/QM_XmlElement.idt,
// DIR/QM_XmlAttribute.idt and DIR/expected.tsv (what bench-verify checks).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ChangePlanner.h"
#include "ConfigWriter.h"
#include "PackageTables.h"

namespace {

int Usage(const std::string& message) {
    std::fprintf(stderr,
                 "bench-gen: %s\n"
                 "usage: bench-gen config  --bytes N [--seed S] [--eol crlf|lf] [--indent N] OUT.xml\n"
                 "       bench-gen nested  --depth N [--eol crlf|lf] OUT.xml\n"
                 "       bench-gen package --file FILE.xml --changes R [--seed S] [--deepest] DIR\n",
                 message.c_str());
    return 2;
}

// Options as name/value pairs ("--deepest" has the value "1"), and the one
// operand.
bool ParseOptions(int argc, char** argv, std::map<std::string, std::string>* options, std::string* operand,
                  std::string* error) {
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--deepest") {
            (*options)[arg] = "1";
        } else if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            (*options)[arg] = argv[++i];
        } else if (operand->empty()) {
            *operand = arg;
        } else {
            *error = "unexpected argument '" + arg + "'";
            return false;
        }
    }
    if (operand->empty()) *error = "no output named";
    return !operand->empty();
}

bool Number(const std::map<std::string, std::string>& options, const std::string& name, std::uint64_t fallback,
            std::uint64_t* value) {
    const auto found = options.find(name);
    if (found == options.end()) {
        *value = fallback;
        return true;
    }
    char* end = nullptr;
    *value = std::strtoull(found->second.c_str(), &end, 10);
    return !found->second.empty() && *end == '\0';
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command given");
    const std::string command = argv[1];
    std::map<std::string, std::string> options;
    std::string operand;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &operand, &error)) return Usage(error);
    const bool crlf = options.count("--eol") == 0 || options["--eol"] == "crlf";
    if (options.count("--eol") && options["--eol"] != "crlf" && options["--eol"] != "lf")
        return Usage("--eol is crlf or lf");

    if (command == "config" || command == "nested") {
        File out(std::fopen(operand.c_str(), "wb"), &std::fclose);
        if (!out) return Usage("cannot write " + operand);
        if (command == "config") {
            bench::ConfigOptions config;
            std::uint64_t indent = 0;
            if (!Number(options, "--bytes", 0, &config.bytes) || config.bytes == 0) return Usage("--bytes N is needed");
            if (!Number(options, "--seed", 1, &config.seed) || !Number(options, "--indent", 2, &indent) || indent > 16)
                return Usage("--seed and --indent take numbers");
            config.crlf = crlf;
            config.indent = static_cast<int>(indent);
            bench::WriteConfigFile(config, out.get());
        } else {
            std::uint64_t depth = 0;
            if (!Number(options, "--depth", 0, &depth) || depth == 0 || depth > 10000000)
                return Usage("--depth N is needed");
            // The deepest level that rows can still reach: the section's
            // row, the levels' rows and the changed elements' rows all fit
            // in 1000 levels below the root.
            const int cluster = static_cast<int>(std::min<std::uint64_t>(depth, 990));
            bench::WriteNestedFile(static_cast<int>(depth), cluster, crlf, out.get());
        }
        if (std::fflush(out.get()) != 0 || std::ferror(out.get())) return Usage("cannot write " + operand);
        return 0;
    }
    if (command == "package") {
        bench::PlanOptions plan;
        std::uint64_t changes = 0;
        if (options.count("--file") == 0) return Usage("--file FILE.xml is needed");
        if (!Number(options, "--changes", 0, &changes) || changes == 0 || changes > 1000000)
            return Usage("--changes R is needed");
        if (!Number(options, "--seed", 1, &plan.seed)) return Usage("--seed takes a number");
        plan.changes = static_cast<int>(changes);
        plan.deepest = options.count("--deepest") != 0;
        std::vector<bench::PlannedChange> planned;
        if (!bench::PlanChanges(options["--file"], plan, &planned, &error)) {
            std::fprintf(stderr, "bench-gen: %s\n", error.c_str());
            return 1;
        }
        bench::PackageTables tables;
        std::vector<bench::Change> expected;
        for (const bench::PlannedChange& c : planned) {
            tables.Add(c);
            expected.push_back(c.change);
        }
        if (!tables.Write(operand, &error) || !bench::WriteChanges(operand + "/expected.tsv", expected, &error)) {
            std::fprintf(stderr, "bench-gen: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    return Usage("unknown command '" + command + "'");
}
