// Writers of the benchmark's target files.
//
// A configuration file looks like a large product's settings file:
//
//   <configuration>
//     <section name="billing.3">
//       <!-- comment -->
//       <group name="database.1" enabled="true">
//         <add key="RetryInterval.4711" value="00:05:30"/>
//         <param name="Notice.81">A text &amp; more.</param>
//       </group>
//     </section>
//   </configuration>
//
// Keys and names carry a running number, so each is unique in the file. The
// content depends only on the options: the same seed gives the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Random.h"

namespace bench {

struct ConfigOptions {
    std::uint64_t bytes = 1 << 20;  // the size to reach, within a group's size
    std::uint64_t seed = 1;
    bool crlf = true;
    int indent = 2;
};

// Writes a configuration file; returns the number of bytes written.
std::uint64_t WriteConfigFile(const ConfigOptions& options, std::FILE* out);

// A file whose elements nest `depth` levels deep below one section. The
// level `cluster` below the section (at most `depth`) also holds a few <add>
// and <param> elements, the deepest place a package's rows can reach.
std::uint64_t WriteNestedFile(int depth, int cluster, bool crlf, std::FILE* out);

// Setting values and texts of the kinds the files hold; the package
// generator draws its new values from them too. None holds "[" or "]", which
// an installer would take for a property reference, nor a tab or line end,
// which a table row cannot hold.
std::string MakeValue(Random& random);
// With `ascii`, only words that any code page can hold.
std::string MakeText(Random& random, bool ascii = false);

}  // namespace bench
