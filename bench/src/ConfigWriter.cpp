#include "ConfigWriter.h"

namespace bench {

namespace {

const char* const kSectionWords[] = {"billing",   "catalog",   "checkout", "search",    "identity", "shipping",
                                     "reporting", "messaging", "storage",  "telemetry", "payments", "inventory",
                                     "scheduler", "gateway",   "audit",    "pricing"};
const char* const kGroupWords[] = {"database", "cache",    "http",   "queue",  "logging", "security", "features",
                                   "limits",   "paths",    "mail",   "retry",  "tracing", "tenants",  "jobs"};
const char* const kKeyWords[] = {"Cache",  "Timeout",  "Retry",   "Max",      "Min",    "Pool",     "Size",
                                 "Batch",  "Interval", "Enabled", "Level",    "Path",   "Url",      "Endpoint",
                                 "Buffer", "Culture",  "Format",  "Mode",     "Port",   "Host",     "Threshold",
                                 "Limit",  "Count",    "Window",  "Delay",    "Policy", "Provider", "Region"};
const char* const kTextWords[] = {"the",      "service", "writes",  "reports", "every",    "request",  "and",
                                  "keeps",    "a",       "copy",    "of",      "settings", "for",      "tenants",
                                  "during",   "nightly", "runs",    "when",    "queues",   "grow",     "beyond",
                                  "limits",   "café",    "naïve",   "Größe",   "über",     "reçu",     "résumé",
                                  "&amp;",    "&lt;x&gt;", "backup", "mirror", "region",   "failover", "timeout"};
const char* const kHosts[] = {"db", "cache", "api", "mq", "auth", "files", "search"};
const char* const kCultures[] = {"en-US", "de-DE", "fr-FR", "sv-SE", "ja-JP", "pt-BR"};

std::string Number(Random& r, int low, int high) { return std::to_string(r.Between(low, high)); }

std::string Hex(Random& r, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < digits; ++i) s += kDigits[r.Below(16)];
    return s;
}

// What one line of a file is made of; line ends and indentation come from
// the options.
class Lines {
public:
    Lines(bool crlf, std::FILE* out) : eol_(crlf ? "\r\n" : "\n"), out_(out) {}
    ~Lines() { Flush(); }

    void Put(int indent, const std::string& text) {
        buffer_.append(static_cast<std::size_t>(indent), ' ');
        buffer_ += text;
        buffer_ += eol_;
        if (buffer_.size() >= (1u << 20)) Flush();
    }
    std::uint64_t Written() const { return written_ + buffer_.size(); }
    std::size_t EolSize() const { return eol_.size(); }
    void Flush() {
        std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
        written_ += buffer_.size();
        buffer_.clear();
    }

private:
    std::string eol_;
    std::FILE* out_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};

bool IsAscii(const char* s) {
    for (; *s != '\0'; ++s) {
        if (static_cast<unsigned char>(*s) >= 0x80) return false;
    }
    return true;
}

std::string Quote(const std::string& value, char q) { return std::string(1, q) + value + q; }

void WriteGroup(Random& r, Lines& lines, int unit, const std::string& section, int groupIndex,
                std::uint64_t& counter) {
    const std::string group = std::string(r.Pick(kGroupWords)) + "." + std::to_string(groupIndex);
    if (r.Percent(30)) lines.Put(2 * unit, "<!-- " + group + " settings of " + section + " -->");
    lines.Put(2 * unit, "<group name=\"" + group + "\"" + (r.Percent(20) ? " enabled=\"false\"" : "") + ">");
    const int items = r.Between(10, 90);
    for (int i = 0; i < items; ++i) {
        const int kind = static_cast<int>(r.Below(100));
        const std::string number = std::to_string(++counter);
        if (kind < 4) {
            lines.Put(3 * unit, "<!-- " + MakeText(r) + " -->");
        } else if (kind < 14) {
            const std::string name = std::string(r.Pick(kKeyWords)) + "Notice." + number;
            const std::string text = r.Percent(5) ? "<![CDATA[" + MakeText(r) + " <raw> & more]]>" : MakeText(r);
            lines.Put(3 * unit, "<param name=\"" + name + "\">" + text + "</param>");
        } else {
            const std::string key = std::string(r.Pick(kKeyWords)) + r.Pick(kKeyWords) + "." + number;
            // Most tags are written the usual way; a few use single quotes,
            // a blank before "/>" or a third attribute, as hand-edited files do.
            const char q = r.Percent(5) ? '\'' : '"';
            std::string line = "<add key=" + Quote(key, q) + " value=" + Quote(MakeValue(r), q);
            if (r.Percent(10)) line += " description=" + Quote(MakeText(r), q);
            line += r.Percent(5) ? " />" : "/>";
            lines.Put(3 * unit, line);
        }
    }
    lines.Put(2 * unit, "</group>");
}

}  // namespace

std::string MakeValue(Random& r) {
    switch (r.Below(9)) {
        case 0: return Number(r, 0, 100000);
        case 1: return r.Percent(50) ? "true" : "false";
        case 2: return "C:\\ProgramData\\Norrvik\\" + std::string(r.Pick(kGroupWords)) + "\\" + Hex(r, 6) + ".log";
        case 3:
            return "https://" + std::string(r.Pick(kHosts)) + Number(r, 1, 40) + ".example.com:" + Number(r, 1024, 9999) +
                   "/api/v" + Number(r, 1, 4) + "/" + r.Pick(kGroupWords);
        case 4:
            return "Server=" + std::string(r.Pick(kHosts)) + Number(r, 1, 40) + ".example.local;Database=" +
                   r.Pick(kSectionWords) + ";Integrated Security=true;Connect Timeout=" + Number(r, 5, 120);
        case 5: return "0" + Number(r, 0, 9) + ":" + Number(r, 10, 59) + ":" + Number(r, 10, 59);
        case 6: return r.Pick(kCultures);
        case 7: return Hex(r, 8) + "-" + Hex(r, 4) + "-" + Hex(r, 4) + "-" + Hex(r, 4) + "-" + Hex(r, 12);
        default: return std::string(r.Pick(kKeyWords)) + " &amp; " + r.Pick(kKeyWords);
    }
}

std::string MakeText(Random& r, bool ascii) {
    std::string text = "Note";
    const int words = r.Between(3, 12);
    for (int i = 0; i < words; ++i) {
        const char* word = r.Pick(kTextWords);
        while (ascii && !IsAscii(word)) word = r.Pick(kTextWords);
        text += std::string(" ") + word;
    }
    return text + ".";
}

std::uint64_t WriteConfigFile(const ConfigOptions& options, std::FILE* out) {
    Random r(options.seed);
    Lines lines(options.crlf, out);
    const int unit = options.indent;
    lines.Put(0, "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    lines.Put(0, "<!-- Settings of the Norrvik services (benchmark file, seed " + std::to_string(options.seed) + ") -->");
    lines.Put(0, "<configuration>");
    // What still has to follow the last group: its section's and the
    // root's end tags.
    const std::uint64_t tail = unit + 10 + 16 + 2 * lines.EolSize();
    std::uint64_t counter = 0;
    for (int s = 1; s == 1 || lines.Written() + tail < options.bytes; ++s) {
        const std::string section = std::string(r.Pick(kSectionWords)) + "." + std::to_string(s);
        lines.Put(unit, "<section name=\"" + section + "\">");
        const int groups = r.Between(4, 12);
        for (int g = 1; g <= groups && (g == 1 || lines.Written() + tail < options.bytes); ++g)
            WriteGroup(r, lines, unit, section, g, counter);
        lines.Put(unit, "</section>");
    }
    lines.Put(0, "</configuration>");
    lines.Flush();
    return lines.Written();
}

std::uint64_t WriteNestedFile(int depth, int cluster, bool crlf, std::FILE* out) {
    Random r(static_cast<std::uint64_t>(depth));
    Lines lines(crlf, out);
    lines.Put(0, "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    lines.Put(0, "<configuration>");
    lines.Put(2, "<section name=\"nested\">");
    // The levels are not indented: indentation would grow with the square
    // of the depth.
    for (int level = 1; level <= depth; ++level) {
        lines.Put(0, "<level depth=\"" + std::to_string(level) + "\">");
        if (level != cluster) continue;
        for (int i = 1; i <= 6; ++i)
            lines.Put(0, "<add key=\"Deep" + std::string(r.Pick(kKeyWords)) + "." + std::to_string(i) + "\" value=\"" +
                             MakeValue(r) + "\"/>");
        lines.Put(0, "<param name=\"DeepNotice\">" + MakeText(r) + "</param>");
    }
    for (int level = depth; level >= 1; --level) lines.Put(0, "</level>");
    lines.Put(2, "</section>");
    lines.Put(0, "</configuration>");
    lines.Flush();
    return lines.Written();
}

}  // namespace bench
