#include "upgrd_util/platform/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

FILE* Input(const std::string& text) {
  FILE* file = tmpfile();
  fwrite(text.data(), 1, text.size(), file);
  rewind(file);
  return file;
}

TEST(RealConsole, ReadsWholeLinesAndTellsEndOfInputFromAnEmptyLine) {
  std::string long_line(100000, 'x');
  FILE* in = Input("1\n\nanswer\r\n" + long_line + "\nafter\nno line end");
  RealConsole console(in, stdout);
  std::string line = "junk";
  ASSERT_TRUE(console.ReadLine(&line));
  EXPECT_EQ("1", line);
  ASSERT_TRUE(console.ReadLine(&line));
  EXPECT_EQ("", line);
  ASSERT_TRUE(console.ReadLine(&line));
  EXPECT_EQ("answer", line);
  // An overlong line is consumed whole but kept only up to the limit, so the
  // next answer is not taken from its rest.
  ASSERT_TRUE(console.ReadLine(&line));
  EXPECT_EQ(std::string(Console::kMaxLineLength, 'x'), line);
  ASSERT_TRUE(console.ReadLine(&line));
  EXPECT_EQ("after", line);
  ASSERT_TRUE(console.ReadLine(&line));
  EXPECT_EQ("no line end", line);
  EXPECT_FALSE(console.ReadLine(&line));
  EXPECT_FALSE(console.ReadLine(&line));
  fclose(in);
}

TEST(RealConsole, BackspacesFollowWhatWasWrittenBeforeThem) {
  FILE* out = tmpfile();
  RealConsole console(stdin, out);
  console.Write("\tChecking network connection ...  ");
  console.WriteBackspaces(2);
  console.Write(" |");
  console.WriteBackspaces(2);
  console.Write("     ");
  rewind(out);
  char buffer[128] = {};
  size_t n = fread(buffer, 1, sizeof(buffer) - 1, out);
  EXPECT_EQ("\tChecking network connection ...  \b\b |\b\b     ",
            std::string(buffer, n));
  fclose(out);
}

TEST(PrintableText, ReplacesEveryControlByteAndKeepsTheRest) {
  const char* kCases[][2] = {
      {"kvn_hw02_zel_211.bin", "kvn_hw02_zel_211.bin"},
      {"\x1b]0;owned\x07\x1b[2J", "?]0;owned??[2J"},
      {"tab\tline\r\nend\x7f", "tab?line??end?"},
      {"caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c[1], printable_text(c[0])) << c[0];
  EXPECT_EQ("a?b", printable_text(std::string("a\0b", 3)));
}

// Each control that reorders text, at either end of its range, the line
// and paragraph separators, and what lies just beside them, which stays.
TEST(ReadableText, ReordersNothingAndIsUtf8) {
  const std::string bad = "\xEF\xBF\xBD";
  struct {
    std::string raw, shown;
  } cases[] = {
      {"a\xE2\x80\xAE" "b", "a?b"},             // U+202E, the override
      {"\xE2\x80\xAA\xE2\x80\xAD", "??"},     // U+202A, U+202D
      {"\xE2\x81\xA6\xE2\x81\xA9", "??"},     // U+2066, U+2069 isolates
      {"\xE2\x80\x8E\xE2\x80\x8F", "??"},     // U+200E, U+200F marks
      {"\xD8\x9C", "?"},                        // U+061C, the Arabic mark
      {"a\xE2\x80\xA8" "b\xE2\x80\xA9", "a?b?"},  // U+2028, U+2029
      {"\xE2\x80\x8D\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"
       "\xD8\x9B",
       "\xE2\x80\x8D\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"
       "\xD8\x9B"},
      {"\xC2\x85", "?"},                        // a C1 control
      {"kvn\tzel\n\x1b[2J", "kvn\tzel\n?[2J"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"\x80\xFF", bad + bad},
      {"\xC0\xAF", bad + bad},                  // an overlong '/'
      {"x\xE2\x80", "x" + bad + bad},           // cut short
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.shown, readable_text(c.raw)) << c.raw;
}

}  // namespace
