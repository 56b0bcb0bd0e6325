#include "upgrd_util/inputs/group_file.h"

#include <cstdio>
#include <sstream>
#include <vector>

#include "upgrd_util/platform/files.h"

namespace {

// Far more than a fleet's lines; a bound against a wrong file.
const size_t kMostBytes = 8 << 20;

// The fields of `line` split at commas, blanks around each taken off.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ',')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  for (std::string& field : fields) {
    size_t first = field.find_first_not_of(" \t\r");
    size_t last = field.find_last_not_of(" \t\r");
    field = first == std::string::npos ? ""
                                       : field.substr(first, last - first + 1);
  }
  return fields;
}

// A name that a page, a report and a metric label show as it is.
bool GoodName(const std::string& name) {
  if (name.empty() || name.size() > 64)
    return false;
  for (char c : name) {
    bool good = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                (c >= '0' && c <= '9') || c == '.' || c == '_' || c == ':' ||
                c == '/' || c == '-';
    if (!good)
      return false;
  }
  return true;
}

// Reads one card's line into *groups. Returns what is wrong, or "".
std::string ReadCardLine(const std::string& line,
                         std::map<std::string, CardGroup>* groups) {
  std::vector<std::string> fields = Fields(line);
  if (fields.size() < 2 || fields.size() > 3)
    return "address,group or address,group,pair is expected";
  const std::string& address = fields[0];
  if (address.empty() || address.size() > 25)
    return "no card's address";
  if (!GoodName(fields[1]) || fields[1] == "-")
    return "the group is 1 to 64 of A-Z a-z 0-9 . _ : / - (not - alone)";
  if (fields.size() == 3 && !fields[2].empty() && !GoodName(fields[2]))
    return "the pair is 1 to 64 of A-Z a-z 0-9 . _ : / -";
  if (groups->count(address))
    return address + " is given twice";
  (*groups)[address] = {fields[1], fields.size() == 3 ? fields[2] : ""};
  return "";
}

}  // namespace

bool read_group_file(const std::string& path,
                     std::map<std::string, CardGroup>* groups,
                     std::string* error) {
  FILE* file = open_regular_file(path.c_str());
  if (!file) {
    *error = path + ": cannot be read (a regular file is needed)";
    return false;
  }
  std::string text;
  char piece[4096];
  size_t got;
  while (text.size() <= kMostBytes &&
         (got = fread(piece, 1, sizeof(piece), file)) > 0)
    text.append(piece, got);
  fclose(file);
  if (text.size() > kMostBytes) {
    *error = path + ": larger than 8 MiB";
    return false;
  }
  int number = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    ++number;
    // A header is needed: without one, the first card would be taken for it.
    if (number == 1) {
      if (line.rfind("\xEF\xBB\xBF", 0) == 0)
        line.erase(0, 3);
      if (Fields(line)[0] != "address") {
        *error = path + ": line 1: a header, address,group,pair, is expected";
        return false;
      }
      continue;
    }
    if (Fields(line) == std::vector<std::string>{""})
      continue;
    std::string wrong = ReadCardLine(line, groups);
    if (!wrong.empty()) {
      *error = path + ": line " + std::to_string(number) + ": " + wrong;
      return false;
    }
  }
  if (groups->empty()) {
    *error = path + ": lists no card";
    return false;
  }
  return true;
}
