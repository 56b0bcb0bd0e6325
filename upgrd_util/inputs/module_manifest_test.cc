#include "upgrd_util/inputs/module_manifest.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// A manifest as sha256sum writes it passes; any other line, a module not
// listed or listed with another hash, a file beyond the bounds is refused
// with one line that names the file, and the hashes where there are.
TEST(ModuleManifestTest, OnlyAManifestListingEveryModuleAsItIsPasses) {
  ScopedTempDir dir;
  const std::string zel(64, 'a'), app(64, 'b'), other(64, 'c');
  const std::vector<ModuleDigest> modules = {{"kvn_hw02_zel_211.bin", zel},
                                             {"kvn_hw02_app_211.bin", app}};
  const std::string good = zel + "  kvn_hw02_zel_211.bin\n" + app +
                           "  kvn_hw02_app_211.bin\n";
  struct {
    const char* name;
    std::string content;
    std::string said;  // empty: it passes
  } cases[] = {
      {"good", good, ""},
      {"binary_mode_crlf_upper_case",
       std::string(64, 'A') + " *kvn_hw02_zel_211.bin\r\n\r\n" + app +
           " *kvn_hw02_app_211.bin",
       ""},
      {"dot_slash",
       zel + "  ./kvn_hw02_zel_211.bin\n" + app + "  ./kvn_hw02_app_211.bin\n",
       ""},
      {"wrong_hash",
       zel + "  kvn_hw02_zel_211.bin\n" + other + "  kvn_hw02_app_211.bin\n",
       "kvn_hw02_app_211.bin does not match wrong_hash: its SHA-256 is " + app +
           ", wrong_hash lists " + other},
      {"missing_line", zel + "  kvn_hw02_zel_211.bin\n",
       "kvn_hw02_app_211.bin is not listed in missing_line; its SHA-256 is " +
           app},
      {"other_directory", zel + "  mods/kvn_hw02_zel_211.bin\n",
       "kvn_hw02_zel_211.bin is not listed in other_directory; its SHA-256 "
       "is " + zel},
      {"short_hash", good + std::string(63, 'd') + "  kvn_hw02_zel_202.bin\n",
       "short_hash, line 3: not a line of sha256sum (64 hex digits, two "
       "blanks or a blank and a *, the file name)"},
      {"one_blank", zel + " kvn_hw02_zel_211.bin\n",
       "one_blank, line 1: not a line of sha256sum (64 hex digits, two "
       "blanks or a blank and a *, the file name)"},
      {"tag_format", "SHA256 (kvn_hw02_zel_211.bin) = " + zel + "\n",
       "tag_format, line 1: not a line of sha256sum (64 hex digits, two "
       "blanks or a blank and a *, the file name)"},
      {"twice", good + other + "  ./kvn_hw02_zel_211.bin\n",
       "twice, line 3: kvn_hw02_zel_211.bin is listed a second time"},
      {"long_line", good + zel + "  " + std::string(5000, 'x') + "\n",
       "long_line, line 3: longer than 4 KiB: not a line of sha256sum"},
      {"large", good + std::string(1 << 20, '\n'),
       "large is larger than 1 MiB: no manifest of modules"},
      {"directory", "", "cannot read directory (a regular file is needed)"},
#ifndef _WIN32
      {"fifo", "", "cannot read fifo (a regular file is needed)"},
#endif
  };
  ASSERT_TRUE(MakeDirectory("directory"));
#ifndef _WIN32
  // Never waited on: nobody will write to it.
  ASSERT_EQ(0, mkfifo("fifo", 0600));
#endif
  for (const auto& c : cases) {
    std::string name = c.name;
    if (name != "directory" && name != "fifo") {
      ASSERT_TRUE(WriteFile(c.name, c.content));
    }
    Manifest manifest;
    std::string error;
    bool passed = read_manifest(c.name, &manifest, &error) &&
                  manifest_lists(c.name, manifest, modules, &error);
    EXPECT_EQ(c.said.empty(), passed) << c.name;
    EXPECT_EQ(c.said, error) << c.name;
  }
}

}  // namespace
