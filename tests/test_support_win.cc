#include "tests/test_support.h"

#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

void RemoveTree(const std::string& path) {
  if (path.size() < 4)
    return;
  std::string command = "rmdir /s /q \"" + path + "\"";
  if (system(command.c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", path.c_str());
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  char cwd[MAX_PATH];
  if (_getcwd(cwd, sizeof(cwd)))
    previous = cwd;
  char base[MAX_PATH];
  DWORD length = GetTempPathA(sizeof(base), base);
  static unsigned counter = 0;
  for (int attempt = 0; length > 0 && attempt < 100; ++attempt) {
    std::string candidate = std::string(base) + "upgrd_test." +
                            std::to_string(GetCurrentProcessId()) + "." +
                            std::to_string(++counter);
    if (_mkdir(candidate.c_str()) == 0) {
      path = candidate;
      if (_chdir(candidate.c_str()) != 0)
        perror("chdir");
      break;
    }
  }
}

ScopedTempDir::~ScopedTempDir() {
  if (!previous.empty() && _chdir(previous.c_str()) != 0)
    perror("chdir");
  RemoveTree(path);
}

bool MakeDirectory(const std::string& path) {
  return _mkdir(path.c_str()) == 0;
}

std::string ReadTextFile(const std::string& path) {
  std::string text = ReadFile(path);
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      plain += text[i];
  }
  return plain;
}
