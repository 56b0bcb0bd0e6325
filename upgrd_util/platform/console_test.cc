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

}  // namespace
