#include "upgrd_util/inputs/target_list.h"

#include <cstring>
#include <string>

#include "upgrd_util/inputs/line_scan.h"
#include "upgrd_util/output/result_log.h"
#include "upgrd_util/platform/console.h"

namespace {

// The longest dotted IPv4 address.
const size_t kMaxAddressLength = 15;

void ReportError(int line_number) {
  console_error_printf("\tERROR reading 'iplist.txt' at line number %i \n",
                       line_number);
  log_printf("Error reading 'iplist.txt' at line number %i \n", line_number);
  log_printf("fields out of order or incorrect\n");
  log_printf("Do not place emty line in between fields\n");
  log_printf(
      "'iplist.txt' MUST be in the format:\n\nSystemIP=xxx.xxx.xxx.xxx\n"
      "SystemUserName='username'\nSystemPassword='password'\n\n");
  log_printf(
      "SystemIP=xxx.xxx.xxx.xxx\nSystemUserName='username'\n"
      "SystemPassword='password'\n\n etc ... \n\n");
  log_flush();
}

// Reads the line that must follow in an entry into `line` and takes its
// value.
bool ReadField(FILE* file, const char* pattern, char* line,
               std::string* value) {
  return read_line_piece(file, line) && !strchr(line, ';') &&
         scan_line(line, pattern, value);
}

}  // namespace

upgrade_target* read_target_list(int* count, FILE* list_file,
                                 const char* default_password,
                                 ListReading* reading) {
  ListReading unused;
  if (!reading)
    reading = &unused;
  upgrade_target* head = nullptr;
  // Where the next card is linked: appending from the head each time would
  // make a long list quadratic to read.
  upgrade_target** tail = &head;
  int line_number = 1;
  char line[kLineBufferSize];
  std::string value;
  // A line read as a card's password line that turned out to be none.
  bool line_pending = false;
  skip_byte_order_mark(list_file);
  while (line_pending || read_line_piece(list_file, line)) {
    line_pending = false;
    ++line_number;
    if (strchr(line, ';') || !scan_line(line, "SystemIP=%s", &value))
      continue;
    upgrade_target* target = append_upgrade_target(tail);
    tail = &target->next;
    target->state.list_line = line_number - 1;
    // Each check names the line that holds the offending value.
    if (value.size() > kMaxAddressLength || !set_target_ip(target, value)) {
      line_number -= 1;
    } else if (ReadField(list_file, "SystemUserName=%s", line, &value) &&
               set_target_user_name(target, value)) {
      ++line_number;
      line[0] = '\0';
      if (ReadField(list_file, "SystemPassword=%s", line, &value)) {
        reading->any_password = true;
        if (set_target_password(target, value)) {
          ++line_number;
          ++*count;
          continue;
        }
      } else if (default_password &&
                 set_target_password(target, default_password)) {
        // No password line: the line read belongs to what follows.
        line_pending = line[0] != '\0';
        ++*count;
        continue;
      } else {
        reading->password_missing = true;
      }
    }
    ReportError(line_number);
    free_upgrade_targets(head);
    *count = -2;
    return nullptr;
  }
  return head;
}
