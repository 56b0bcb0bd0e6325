#include "upgrd_util/output/campaign_report.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "upgrd_util/platform/clock.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"

namespace {

const char* const kColumns[] = {
    "address",  "user_name", "outcome", "status",       "zel_before",
    "zel_after", "start",    "end",     "seconds",      "zel_attempts",
    "app_attempts"};

bool EndsWith(const std::string& text, const char* ending) {
  size_t length = strlen(ending);
  return text.size() >= length &&
         text.compare(text.size() - length, length, ending) == 0;
}

bool IsCsv(const std::string& path) {
  return EndsWith(path, ".csv");
}

// A CSV field, shown printable as result.txt shows a card's names (a
// report is read with cat too), and quoted when it holds a comma or a quote.
std::string CsvField(const std::string& raw) {
  std::string value = printable_text(raw);
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

std::string CsvLine(const ReportRecord& r) {
  std::string line;
  for (const std::string& field :
       {r.address, r.user_name, r.outcome, std::to_string(r.status),
        r.zel_before, r.zel_after, r.start, r.end, Seconds(r.seconds),
        std::to_string(r.zel_attempts), std::to_string(r.app_attempts)}) {
    if (!line.empty())
      line += ',';
    line += CsvField(field);
  }
  return line + "\r\n";
}

std::string JsonLine(const ReportRecord& r) {
  nlohmann::ordered_json record = {
      {"address", r.address},       {"user_name", r.user_name},
      {"outcome", r.outcome},       {"status", r.status},
      {"zel_before", r.zel_before}, {"zel_after", r.zel_after},
      {"start", r.start},           {"end", r.end},
      {"seconds", std::stod(Seconds(r.seconds))},
      {"zel_attempts", r.zel_attempts},
      {"app_attempts", r.app_attempts}};
  // Names from a card need not be UTF-8.
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
  return record;
}

std::string iso_local_time() {
  struct tm now;
  if (!platform().clock->LocalTime(&now))
    return "";
  long offset = platform().clock->UtcOffsetSeconds();
  char sign = offset < 0 ? '-' : '+';
  long minutes = (offset < 0 ? -offset : offset) / 60;
  char text[96];
  snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
           now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
           now.tm_min, now.tm_sec, sign, minutes / 60, minutes % 60);
  return text;
}

CampaignReport::~CampaignReport() {
  if (file_)
    fclose(file_);
}

bool CampaignReport::Write(const ReportRecord& record, std::string* reason) {
  std::string text = IsCsv(path_) ? CsvLine(record) : JsonLine(record);
  if (!file_) {
    // The first record: written beside the file, then put in its place.
    std::string temp = path_ + ".part";
    FILE* first = fopen(temp.c_str(), "wb");
    if (!first) {
      *reason = strerror(errno);
      return false;
    }
    if (IsCsv(path_)) {
      std::string header;
      for (const char* column : kColumns)
        header += std::string(header.empty() ? "" : ",") + column;
      fputs((header + "\r\n").c_str(), first);
    }
    fwrite(text.data(), 1, text.size(), first);
    bool written = fclose(first) == 0;
    std::error_code error;
    if (written)
      std::filesystem::rename(temp, path_, error);
    if (!written || error) {
      *reason = written ? error.message() : strerror(errno);
      remove(temp.c_str());
      return false;
    }
    file_ = fopen(path_.c_str(), "ab");
    if (!file_) {
      *reason = strerror(errno);
      return false;
    }
    return true;
  }
  fwrite(text.data(), 1, text.size(), file_);
  if (fflush(file_) != 0) {
    *reason = strerror(errno);
    return false;
  }
  return true;
}

bool read_upgraded_cards(const std::string& path,
                         std::set<std::string>* upgraded, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    *error = "cannot read " + path;
    return false;
  }
  auto fail = [&](int line, const std::string& what) {
    *error = path + ", line " + std::to_string(line) + ": " + what;
    return false;
  };
  if (!report_format_known(path))
    return fail(1, "a report is a .csv or a .jsonl file");
  if (IsCsv(path)) {
    std::vector<std::pair<int, std::vector<std::string>>> rows;
    int bad_line = 0;
    if (!ParseCsv(text, &rows, &bad_line))
      return fail(bad_line, "a quoted field is never closed");
    if (rows.empty())
      return fail(1, "no header row");
    const std::vector<std::string>& header = rows[0].second;
    size_t address = header.size(), outcome = header.size();
    for (size_t i = 0; i < header.size(); ++i) {
      if (header[i] == "address")
        address = i;
      if (header[i] == "outcome")
        outcome = i;
    }
    if (address == header.size() || outcome == header.size())
      return fail(1, "the header row has no address or no outcome column");
    for (size_t r = 1; r < rows.size(); ++r) {
      if (rows[r].second.size() != header.size())
        return fail(rows[r].first, "not as many fields as the header row");
      if (rows[r].second[outcome] == "upgraded")
        upgraded->insert(rows[r].second[address]);
    }
    return true;
  }
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
      return fail(line_number,
                  "not a JSON object with an address and an outcome");
    if (record["outcome"] == "upgraded")
      upgraded->insert(record["address"].get<std::string>());
  }
  return true;
}
