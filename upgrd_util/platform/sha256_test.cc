#include "upgrd_util/platform/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

// The published vectors (FIPS 180-2's "abc", two blocks, a million "a"s),
// and a file of a few MiB as sha256sum hashes it: each read through the
// bounded buffer of sha256_file, the last ones in many pieces.
TEST(Sha256Test, FilesGiveTheKnownDigests) {
  ScopedTempDir dir;
  std::string pattern;
  for (int i = 0; i < (3 << 20); ++i)
    pattern += static_cast<char>(i % 251);
  struct {
    const char* name;
    std::string content;
    const char* digest;
  } vectors[] = {
      {"empty", "",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"two_blocks",
       "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"million_a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"three_mib", pattern,
       "a1feacf0d812ba4d0b0e463ed45bbd583cea1de55c54693116754b30b5794745"},
  };
  for (const auto& vector : vectors) {
    ASSERT_TRUE(WriteFile(vector.name, vector.content));
    std::string hex, error;
    EXPECT_TRUE(sha256_file(vector.name, &hex, &error)) << error;
    EXPECT_EQ(vector.digest, hex) << vector.name;
  }
  std::string hex, error;
  EXPECT_FALSE(sha256_file("missing", &hex, &error));
  EXPECT_EQ("cannot read missing (a regular file is needed)", error);
}

}  // namespace
