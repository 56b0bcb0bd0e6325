#include "upgrd_util/output/campaign_report.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "upgrd_util/base/process_state.h"
#include "upgrd_util/output/replace_file.h"
#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/files.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

namespace {

bool EndsWith(const std::string& text, const char* ending) {
  size_t length = strlen(ending);
  return text.size() >= length &&
         text.compare(text.size() - length, length, ending) == 0;
}

bool IsCsv(const std::string& path) {
  return EndsWith(path, ".csv");
}

// A text field of either format as the page shows it, on one line: a
// report is read with cat too, and by scripts that expect UTF-8.
std::string ReportText(const std::string& raw) {
  return readable_text(printable_text(raw));
}

// A CSV field, quoted when it holds a comma or a quote.
std::string CsvField(const std::string& raw) {
  std::string value = ReportText(raw);
  if (value.find_first_of(",\"") == std::string::npos)
    return value;
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof(text), "%.1f", seconds);
  return text;
}

// How a field is held and written.
enum FieldKind {
  FIELD_TEXT,     // a string, quoted in CSV where needed
  FIELD_NUMBER,   // a whole number
  FIELD_FLAG,     // true or false
  FIELD_SECONDS,  // a number with one decimal
};

// A record's field: its name (the CSV column and the JSON key), its kind,
// the member of ReportRecord that holds it, and the member of EarlierRecord
// that a later run reads it into (nullptr: none).
struct Field {
  const char* name;
  FieldKind kind;
  std::string ReportRecord::*text = nullptr;
  int ReportRecord::*number = nullptr;
  bool ReportRecord::*flag = nullptr;
  double ReportRecord::*seconds = nullptr;
  std::string EarlierRecord::*earlier = nullptr;
};

constexpr Field Text(const char* name, std::string ReportRecord::*member,
                     std::string EarlierRecord::*earlier = nullptr) {
  Field field{name, FIELD_TEXT};
  field.text = member;
  field.earlier = earlier;
  return field;
}

constexpr Field Number(const char* name, int ReportRecord::*member) {
  Field field{name, FIELD_NUMBER};
  field.number = member;
  return field;
}

constexpr Field Flag(const char* name, bool ReportRecord::*member) {
  Field field{name, FIELD_FLAG};
  field.flag = member;
  return field;
}

constexpr Field Tenths(const char* name, double ReportRecord::*member) {
  Field field{name, FIELD_SECONDS};
  field.seconds = member;
  return field;
}

// The record's fields, in the order of the CSV columns and the JSON keys.
const Field kFields[] = {
    Text("address", &ReportRecord::address),
    Text("user_name", &ReportRecord::user_name),
    Text("outcome", &ReportRecord::outcome, &EarlierRecord::outcome),
    Number("status", &ReportRecord::status),
    Text("zel_before", &ReportRecord::zel_before),
    Text("zel_after", &ReportRecord::zel_after, &EarlierRecord::zel_after),
    Text("start", &ReportRecord::start),
    Text("end", &ReportRecord::end, &EarlierRecord::end),
    Tenths("seconds", &ReportRecord::seconds),
    Number("zel_attempts", &ReportRecord::zel_attempts),
    Number("app_attempts", &ReportRecord::app_attempts),
    Flag("logs_saved", &ReportRecord::logs_saved),
    Text("zel_target", &ReportRecord::zel_target, &EarlierRecord::zel_target),
    Text("app_target", &ReportRecord::app_target, &EarlierRecord::app_target),
    Text("run_id", &ReportRecord::run_id, &EarlierRecord::run_id),
    Text("upgraded_in_run", &ReportRecord::upgraded_in_run,
         &EarlierRecord::upgraded_in_run),
    Text("upgraded_at", &ReportRecord::upgraded_at,
         &EarlierRecord::upgraded_at),
    Text("done_as", &ReportRecord::done_as, &EarlierRecord::done_as),
    Number("wave", &ReportRecord::wave),
    Text("reason", &ReportRecord::reason),
    Number("tries", &ReportRecord::tries),
    Text("reply", &ReportRecord::reply),
    Text("zel_sha256", &ReportRecord::zel_sha256),
    Text("app_sha256", &ReportRecord::app_sha256),
    Text("patch_sha256", &ReportRecord::patch_sha256),
    Text("site", &ReportRecord::site, &EarlierRecord::site),
    Text("addresses_sha256", &ReportRecord::addresses_sha256,
         &EarlierRecord::addresses_sha256),
    Text("group", &ReportRecord::group),
    Text("pair", &ReportRecord::pair),
    Text("run_by", &ReportRecord::run_by),
    Text("host", &ReportRecord::host),
    Text("command_line", &ReportRecord::command_line),
    Text("tool_version", &ReportRecord::tool_version),
    Text("pauses", &ReportRecord::pauses),
};

// A field's text in a CSV line.
std::string CsvText(const Field& field, const ReportRecord& r) {
  switch (field.kind) {
    case FIELD_TEXT:
      return r.*field.text;
    case FIELD_NUMBER:
      return std::to_string(r.*field.number);
    case FIELD_FLAG:
      return r.*field.flag ? "true" : "false";
    case FIELD_SECONDS:
      return Seconds(r.*field.seconds);
  }
  return "";
}

// A field's value in a JSON line: numbers stay numbers, seconds with the
// CSV line's one decimal.
nlohmann::ordered_json JsonValue(const Field& field, const ReportRecord& r) {
  switch (field.kind) {
    case FIELD_TEXT:
      return ReportText(r.*field.text);
    case FIELD_NUMBER:
      return r.*field.number;
    case FIELD_FLAG:
      return r.*field.flag;
    case FIELD_SECONDS:
      return std::stod(Seconds(r.*field.seconds));
  }
  return nullptr;
}

std::string CsvHeader() {
  std::string header;
  for (const Field& field : kFields)
    header += std::string(header.empty() ? "" : ",") + field.name;
  return header + "\r\n";
}

std::string CsvLine(const ReportRecord& r) {
  std::string line;
  for (const Field& field : kFields) {
    if (!line.empty())
      line += ',';
    line += CsvField(CsvText(field, r));
  }
  return line + "\r\n";
}

std::string JsonLine(const ReportRecord& r) {
  nlohmann::ordered_json record = nlohmann::ordered_json::object();
  for (const Field& field : kFields)
    record[field.name] = JsonValue(field, r);
  // Its texts are UTF-8 already (ReportText); replacing stays as a guard,
  // for a dump that throws would lose the record.
  return record.dump(-1, ' ', false,
                     nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

// Splits CSV text into rows of fields (RFC 4180). Returns false with the
// number of the line where a quoted field is left open.
bool ParseCsv(const std::string& text,
              std::vector<std::pair<int, std::vector<std::string>>>* rows,
              int* bad_line) {
  std::vector<std::string> row(1);
  int line = 1;
  int row_line = 1;
  bool quoted = false;
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    any = true;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        row.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n')
          ++line;
        row.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.emplace_back();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
      rows->emplace_back(row_line, row);
      row.assign(1, "");
      any = false;
      row_line = ++line;
    } else {
      row.back() += c;
    }
  }
  if (quoted) {
    *bad_line = row_line;
    return false;
  }
  if (any)
    rows->emplace_back(row_line, row);
  return true;
}

}  // namespace

bool report_format_known(const std::string& path) {
  return IsCsv(path) || EndsWith(path, ".jsonl");
}

ReportRecord card_record(const upgrade_target& card, const char* outcome,
                          const std::string& start, const std::string& end,
                          double seconds) {
  ReportRecord record;
  record.address = card.ip;
  record.user_name = card.user_name;
  record.outcome = outcome;
  record.status = card.status;
  record.zel_before = card.state.zel_before;
  record.zel_after = card.state.zel_after;
  record.start = start;
  record.end = end;
  record.seconds = seconds;
  record.zel_attempts = card.state.zel_attempts;
  record.app_attempts = card.state.app_attempts;
  record.logs_saved = card.state.logs_saved;
  record.zel_target = zel_module_name;
  record.app_target = app_module_name;
  record.run_id = run_id;
  record.upgraded_in_run = card.state.upgraded_in_run;
  record.upgraded_at = card.state.upgraded_at;
  record.done_as = outcome_words(card.state.done_as).word;
  record.wave = card.state.wave;
  record.reason = card.state.reason;
  record.tries = card.state.tries;
  record.reply = card.state.reply;
  record.zel_sha256 = zel_module_sha256;
  record.app_sha256 = app_module_sha256;
  record.patch_sha256 = patch_module_sha256;
  record.site = site_name;
  record.addresses_sha256 = addresses_sha256;
  record.group = card.state.group;
  record.pair = card.state.pair;
  record.run_by = run_by_user;
  record.host = run_by_host;
  record.command_line = command_line;
  record.tool_version = tool_version;
  return record;
}

std::string iso_local_time(long seconds_from_now) {
  struct tm now;
  if (!platform().clock->LocalTime(&now))
    return "";
  long offset = platform().clock->UtcOffsetSeconds();
  // From the instant, with its own offset: across a change of summer time
  // the wall time does not move as the seconds do.
  if (seconds_from_now != 0 &&
      !local_time_at(mktime(&now) + seconds_from_now, &now, &offset))
    return "";
  char text[96];
  snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d",
           now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
           now.tm_min, now.tm_sec);
  return text + utc_offset_text(offset);
}

std::string utc_offset_text(long long seconds) {
  long long minutes = (seconds < 0 ? -seconds : seconds) / 60;
  char text[48];
  snprintf(text, sizeof(text), "%c%02lld:%02lld", seconds < 0 ? '-' : '+',
           minutes / 60, minutes % 60);
  return text;
}

CampaignReport::~CampaignReport() {
  if (!file_.is_open())
    return;
  file_.Close();
  // No record came: the old report stays as it was.
  if (!replaced_)
    remove(temp_path().c_str());
}

bool CampaignReport::Open(std::string* reason) {
  if (!clear_the_way_beside(path_, temp_path(), reason) ||
      !file_.Create(temp_path().c_str(), reason))
    return false;
  if (IsCsv(path_) && !file_.Append(CsvHeader(), reason))
    return false;
  return true;
}

bool CampaignReport::Write(const ReportRecord& record, std::string* reason) {
  if (!file_.is_open()) {
    *reason = "the report is not open";
    return false;
  }
  if (!file_.Append(IsCsv(path_) ? CsvLine(record) : JsonLine(record),
                    reason))
    return false;
  if (replaced_)
    return true;
  // The first record: the file written beside the report takes its place in
  // one step, so that the report never holds nothing; both the record and
  // the new name on disk first.
  if (!file_.Sync(reason))
    return false;
  if (!rename_durably(temp_path(), path_, reason)) {
    // Renamed all the same when only the directory's sync failed.
    std::error_code error;
    replaced_ = !std::filesystem::exists(temp_path(), error);
    return false;
  }
  replaced_ = true;
  return true;
}

bool CampaignReport::Sync(std::string* reason) {
  if (!file_.is_open()) {
    *reason = "the report is not open";
    return false;
  }
  return sync_.Sync(reason);
}

namespace {

// Bounds of a report to resume from: far above what a campaign of many
// thousand cards writes, far below what could exhaust memory.
const size_t kMaxReportBytes = 64 << 20;
const size_t kMaxReportLine = 64 << 10;

// Reads the whole report at `path` into *text. Returns false with one line
// naming the file in *error unless it is a regular file within the bounds.
bool ReadReport(const std::string& path, std::string* text,
                std::string* error) {
  // Never a FIFO (it would block) nor a device (it could be endless).
  FILE* file = open_regular_file(path.c_str());
  std::error_code unknown;
  if (!file &&
      std::filesystem::symlink_status(path, unknown).type() ==
          std::filesystem::file_type::not_found &&
      std::filesystem::is_regular_file(path + ".part", unknown)) {
    // A campaign killed before its first record leaves only its part file.
    *error = "there is only " + path +
             ".part: the run that wrote it ended before its first record "
             "and nothing is done yet; run without --resume";
    return false;
  }
  if (!file) {
    *error = "cannot read " + path + " (a regular file is needed)";
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[64 << 10]);
  size_t got;
  while (text->size() <= kMaxReportBytes &&
         (got = fread(buffer.get(), 1, 64 << 10, file)) > 0)
    text->append(buffer.get(), got);
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed || text->size() > kMaxReportBytes) {
    *error = failed ? "cannot read " + path
                    : path + " is larger than 64 MiB: no report of a campaign";
    return false;
  }
  int line = 1;
  for (size_t at = 0; at < text->size(); ++line) {
    size_t end = text->find('\n', at);
    if (end == std::string::npos)
      end = text->size();
    if (end - at > kMaxReportLine) {
      *error = path + ", line " + std::to_string(line) +
               ": longer than 64 KiB: no record of a campaign";
      return false;
    }
    at = end + 1;
  }
  return true;
}

// The fields an earlier record gives a later run; a missing one is empty.
EarlierRecord RecordOf(const std::function<std::string(const char*)>& field) {
  EarlierRecord record;
  for (const Field& f : kFields) {
    if (f.earlier)
      record.*f.earlier = field(f.name);
  }
  return record;
}

// One line naming the report and the line that does not parse, in *error.
bool Unreadable(const std::string& path, int line, const std::string& what,
                std::string* error) {
  *error = path + ", line " + std::to_string(line) + ": " + what;
  return false;
}

// ParseReport's part for a CSV report: a header row naming the columns.
bool ParseCsvReport(const std::string& path, const std::string& text,
                    std::map<std::string, EarlierRecord>* records,
                    std::string* error) {
  std::vector<std::pair<int, std::vector<std::string>>> rows;
  int bad_line = 0;
  if (!ParseCsv(text, &rows, &bad_line))
    return Unreadable(path, bad_line, "a quoted field is never closed", error);
  if (rows.empty())
    return Unreadable(path, 1, "no header row", error);
  const std::vector<std::string>& header = rows[0].second;
  auto column = [&](const char* name) {
    return std::find(header.begin(), header.end(), name) - header.begin();
  };
  size_t address = column("address");
  if (address == header.size() ||
      static_cast<size_t>(column("outcome")) == header.size())
    return Unreadable(path, 1,
                      "the header row has no address or no outcome column",
                      error);
  for (size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string>& row = rows[r].second;
    if (row.size() != header.size())
      return Unreadable(path, rows[r].first,
                        "not as many fields as the header row", error);
    (*records)[row[address]] = RecordOf([&](const char* name) {
      size_t at = column(name);
      return at < row.size() ? row[at] : std::string();
    });
  }
  return true;
}

// ParseReport's part for JSON lines: an object a line; blank lines are none.
bool ParseJsonReport(const std::string& path, const std::string& text,
                     std::map<std::string, EarlierRecord>* records,
                     std::string* error) {
  int line_number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++line_number;
    if (line.find_first_not_of(" \t\r") == std::string::npos)
      continue;
    nlohmann::json record =
        nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!record.is_object() || !record.contains("address") ||
        !record["address"].is_string() || !record.contains("outcome") ||
        !record["outcome"].is_string())
      return Unreadable(path, line_number,
                        "not a JSON object with an address and an outcome",
                        error);
    (*records)[record["address"].get<std::string>()] =
        RecordOf([&](const char* name) {
          auto it = record.find(name);
          return it != record.end() && it->is_string() ? it->get<std::string>()
                                                       : std::string();
        });
  }
  return true;
}

// Takes each card's last record from a report's `text` into *records.
// Returns false with one line naming the file and the line in *error when
// it does not parse.
bool ParseReport(const std::string& path, const std::string& text,
                 std::map<std::string, EarlierRecord>* records,
                 std::string* error) {
  if (!report_format_known(path))
    return Unreadable(path, 1, "a report is a .csv or a .jsonl file", error);
  if (IsCsv(path))
    return ParseCsvReport(path, text, records, error);
  return ParseJsonReport(path, text, records, error);
}

}  // namespace

bool read_earlier_records(const std::string& path,
                          std::map<std::string, EarlierRecord>* records,
                          std::string* error, std::string* warning) {
  std::string text;
  if (!ReadReport(path, &text, error))
    return false;
  if (ParseReport(path, text, records, error))
    return true;
  // A last line without its line end that spoils the file was cut short by
  // a run that was killed or ran out of disk: everything before it counts.
  if (text.empty() || text.back() == '\n')
    return false;
  size_t last = text.rfind('\n');
  std::string whole = last == std::string::npos ? "" : text.substr(0, last + 1);
  std::string ignored;
  records->clear();
  if (!ParseReport(path, whole, records, &ignored))
    return false;
  int line = static_cast<int>(std::count(whole.begin(), whole.end(), '\n')) + 1;
  *warning = path + ", line " + std::to_string(line) +
             ": an unfinished last record, left out";
  return true;
}
