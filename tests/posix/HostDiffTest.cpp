// trellis-host's unified diffs (--diff) and its command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Arguments.h"
#include "TreeDiff.h"
#include "platform/Strings.h"

namespace {

std::string Numbered(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += std::to_string(i) + "\n";
    return text;
}

TEST(HostDiff, UnifiedDiffsOfTwoTexts) {
    struct Case {
        const char* name;
        std::string before;
        std::string after;
        std::string expected;  // after the --- and +++ lines
    };
    const Case cases[] = {
        {"equal", "a\nb\n", "a\nb\n", ""},
        {"one line changed, three lines of context", Numbered(1, 9),
         "1\n2\n3\n4\nfive\n6\n7\n8\n9\n", "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-5\n+five\n 6\n 7\n 8\n"},
        {"insertion at the start", "b\nc\n", "a\nb\nc\n", "@@ -1,2 +1,3 @@\n+a\n b\n c\n"},
        {"deletion at the end", "a\nb\nc\n", "a\nb\n", "@@ -1,3 +1,2 @@\n a\n b\n-c\n"},
        {"created", "", "x\ny\n", "@@ -0,0 +1,2 @@\n+x\n+y\n"},
        {"emptied", "x\n", "", "@@ -1 +0,0 @@\n-x\n"},
        {"a missing final line break is a change",
         "a\nb", "a\nb\n", "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
        {"changes far apart make two hunks", Numbered(1, 20),
         "1\nTWO\n" + Numbered(3, 18) + "NINETEEN\n20\n",
         "@@ -1,5 +1,5 @@\n 1\n-2\n+TWO\n 3\n 4\n 5\n@@ -16,5 +16,5 @@\n 16\n 17\n 18\n-19\n+NINETEEN\n 20\n"},
        {"changes six lines apart share one hunk", Numbered(1, 9), "ONE\n" + Numbered(2, 7) + "EIGHT\n9\n",
         "@@ -1,9 +1,9 @@\n-1\n+ONE\n 2\n 3\n 4\n 5\n 6\n 7\n-8\n+EIGHT\n 9\n"},
        {"carriage returns stay part of the line", "k=v\r\n", "k=v\r\nadded\r\n", "@@ -1 +1,2 @@\n k=v\r\n+added\r\n"},
        {"a moved line", "a\nb\nc\nd\n", "b\nc\na\nd\n", "@@ -1,4 +1,4 @@\n-a\n b\n c\n+a\n d\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string diff = host::UnifiedDiff(c.before, c.after, "a/f", "b/f");
        if (c.expected.empty()) {
            EXPECT_EQ(diff, "");
        } else {
            EXPECT_EQ(diff, "--- a/f\n+++ b/f\n" + c.expected);
        }
    }
}

TEST(HostDiff, BinaryFilesAreNamedNotShown) {
    EXPECT_EQ(host::UnifiedDiff(std::string("a\0b", 3), "ab", "a/x", "b/x"), "Binary files a/x and b/x differ\n");
}

// A large file rewritten throughout still gives a correct, if not minimal, diff.
TEST(HostDiff, LargeRewritesStayCorrect) {
    std::string before, after;
    for (int i = 0; i < 6000; ++i) {
        before += "old " + std::to_string(i) + "\n";
        after += "new " + std::to_string(i) + "\n";
    }
    const std::string diff = host::UnifiedDiff(before, after, "a/big", "b/big");
    EXPECT_EQ(diff.rfind("--- a/big\n+++ b/big\n@@ -1,6000 +1,6000 @@\n-old 0\n", 0), 0u);
    std::size_t removed = 0, added = 0;
    for (std::size_t at = diff.find('\n'); at != std::string::npos && at + 1 < diff.size(); at = diff.find('\n', at + 1)) {
        if (diff.compare(at + 1, 4, "-old") == 0) ++removed;
        if (diff.compare(at + 1, 4, "+new") == 0) ++added;
    }
    EXPECT_EQ(removed, 6000u);
    EXPECT_EQ(added, 6000u);
}

TEST(HostDiff, TreesInPathOrderWithCreatedAndDeletedFiles) {
    const host::TreeSnapshot before = {{"C/a.txt", "1\n"}, {"C/gone.txt", "bye\n"}, {"C/same.txt", "s\n"},
                                       {"C/empty-gone", ""}};
    const host::TreeSnapshot after = {{"C/a.txt", "2\n"}, {"C/new.txt", "hi\n"}, {"C/same.txt", "s\n"},
                                      {"C/empty-new", ""}};
    EXPECT_EQ(host::DiffTrees(before, after),
              "--- a/C/a.txt\n+++ b/C/a.txt\n@@ -1 +1 @@\n-1\n+2\n"
              "--- a/C/empty-gone\n+++ /dev/null\n"
              "--- /dev/null\n+++ b/C/empty-new\n"
              "--- a/C/gone.txt\n+++ /dev/null\n@@ -1 +0,0 @@\n-bye\n"
              "--- /dev/null\n+++ b/C/new.txt\n@@ -0,0 +1 @@\n+hi\n");
}

TEST(HostArguments, OptionsInAnyOrderAndInEitherForm) {
    host::Options options;
    std::string error;
    ASSERT_TRUE(host::ParseArguments({"uninstall", "--prop", "A=1", "p.msi", "--root=/r", "--prop=B=x=y", "--diff",
                                      "--log", "l.txt", "--fail-at=Act", "--fail-after", "Late", "--library", "lib.so", "--prop", "EMPTY="},
                                     &options, &error))
        << error;
    EXPECT_TRUE(options.uninstall);
    EXPECT_EQ(options.package, "p.msi");
    EXPECT_EQ(options.root, "/r");
    EXPECT_EQ(options.logFile, "l.txt");
    EXPECT_EQ(strings::ToUtf8(options.failAt), "Act");
    EXPECT_EQ(strings::ToUtf8(options.failAfter), "Late");
    EXPECT_EQ(options.library, "lib.so");
    EXPECT_TRUE(options.diff);
    ASSERT_EQ(options.properties.size(), 3u);
    EXPECT_EQ(strings::ToUtf8(options.properties[1].first), "B");
    EXPECT_EQ(strings::ToUtf8(options.properties[1].second), "x=y");
    EXPECT_EQ(strings::ToUtf8(options.properties[2].second), "");

    EXPECT_FALSE(host::ParseArguments({"install", "p.msi", "--root", "/r", "--help"}, &options, &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(host::ParseArguments({"install", "p.msi", "--root", "/r", "--prop", "1X=2"}, &options, &error));
    EXPECT_NE(error.find("--prop"), std::string::npos);
}

}  // namespace
