#include "tests/test_support.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/output/result_log.h"

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

double MonotonicSeconds() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int CountLines(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  int n = 0;
  for (std::string l; std::getline(in, l);)
    n += (l == line);
  return n;
}

const char kFakeLogHeader[] =
    "VRN Upgrade Tool v1.6c\nWed Jan 14 06:42:15 PM\n\n";

void ProgramTest::SetUp() {
  reset_process_state();
  install_platform({.console = &console,
                    .clock = &clock,
                    .icmp = &icmp,
                    .ftp = &ftp,
                    .card_locks = dir.path});
  std::string reason;
  ASSERT_TRUE(open_result_log(&reason)) << reason;
}

void ProgramTest::TearDown() {
  close_result_log();
  install_platform(Platform());
}

std::string ProgramTest::Log() {
  log_flush();
  std::string log = ReadTextFile("result.txt");
  EXPECT_EQ(0u, log.find(kFakeLogHeader)) << log;
  return log.substr(std::min(log.size(), strlen(kFakeLogHeader)));
}

std::string ProgramTest::NewLog() {
  std::string log = Log();
  std::string added = log.substr(log_seen);
  log_seen = log.size();
  return added;
}

int Occurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1))
    ++count;
  return count;
}
