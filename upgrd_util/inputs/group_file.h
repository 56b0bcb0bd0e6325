#ifndef UPGRD_UTIL_INPUTS_GROUP_FILE_H_
#define UPGRD_UTIL_INPUTS_GROUP_FILE_H_

#include <map>
#include <string>

/// A card's place in the site's topology, from --groups.
struct CardGroup {
  std::string group;
  std::string pair;  // "": none
};

/// Reads the CSV file of --groups: a header line whose first field is
/// "address", then one card a line, "address,group" or
/// "address,group,pair", blanks around fields ignored. Names are 1 to 64
/// of A-Z a-z 0-9 . _ : / - ("-" alone is the group of cards not listed).
/// Returns false with one line naming the file, the line and what is wrong
/// in *error; a file with no card is wrong too.
bool read_group_file(const std::string& path,
                     std::map<std::string, CardGroup>* groups,
                     std::string* error);

#endif  // UPGRD_UTIL_INPUTS_GROUP_FILE_H_
