#include "upgrd_util/output/campaign_page.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "upgrd_util/base/card_outcome.h"

namespace {

// The states of a card that has not ended, beside its outcomes.
const std::pair<const char*, const char*> kPending[] = {
    {"running", "#64b5f6"},
    {"waiting", "#eeeeee"},
};

// Every state a card can show, with its colour, in the legend's order: what
// went well, what would go well, failed module loads, other failures, then
// the cards that have not ended.
std::vector<std::pair<std::string, std::string>> Colours() {
  std::vector<CardOutcome> outcomes;
  for (int o = OUTCOME_UPGRADED; o <= OUTCOME_WOULD_PATCH; ++o)
    outcomes.push_back(static_cast<CardOutcome>(o));
  auto rank = [](CardOutcome outcome) {
    const OutcomeWords& words = outcome_words(outcome);
    return words.done ? 0 : !words.failure ? 1 : words.module_failure ? 2 : 3;
  };
  std::stable_sort(outcomes.begin(), outcomes.end(),
                   [&](CardOutcome a, CardOutcome b) {
                     return rank(a) < rank(b);
                   });
  std::vector<std::pair<std::string, std::string>> colours;
  for (CardOutcome outcome : outcomes)
    colours.emplace_back(outcome_words(outcome).word,
                         outcome_words(outcome).colour);
  for (const auto& [state, colour] : kPending)
    colours.emplace_back(state, colour);
  return colours;
}

const char kStyle[] =
    "body{font:14px/1.4 system-ui,sans-serif;margin:1.5em auto;"
    "max-width:1200px;padding:0 1em;color:#212121}"
    "h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.6em}"
    "table{border-collapse:collapse}td,th{padding:2px 10px 2px 0;"
    "text-align:left;vertical-align:top}th{white-space:nowrap}"
    "table.cards td,table.cards th,table.versions td,table.versions th"
    "{border-bottom:1px solid #e0e0e0}"
    ".bar{display:flex;height:24px;border:1px solid #9e9e9e}"
    ".bar span{display:block;height:100%}"
    ".counts{list-style:none;padding:0;display:flex;flex-wrap:wrap;"
    "gap:4px 18px}"
    ".sw{display:inline-block;width:12px;height:12px;margin-right:5px;"
    "border:1px solid #9e9e9e;vertical-align:-1px}"
    "svg.timeline{width:100%;height:auto;border:1px solid #e0e0e0}"
    "svg text{font:11px system-ui,sans-serif;fill:#424242}"
    ".axis{stroke:#bdbdbd;stroke-width:1}"
    ".wave{stroke:#424242;stroke-width:1;stroke-dasharray:4 3}"
    ".pause rect{fill:#ef6c00;fill-opacity:.15}.pause text{fill:#e65100}"
    "section.card{border-left:4px solid #c62828;padding:0 0 0 10px;"
    "margin:1em 0}section.card h3{font-size:1em;margin:0}"
    "p.end{font-size:1.1em;padding:8px 12px;border-left:6px solid #1565c0;"
    "background:#e3f2fd}p.completed{border-color:#2e7d32;background:#e8f5e9}"
    "p.stopped{border-color:#c62828;background:#ffebee}"
    "p.paused{border-color:#ef6c00;background:#fff3e0}"
    "pre{background:#f5f5f5;padding:6px;overflow-x:auto;margin:4px 0;"
    "font-size:12px}";

std::string Escape(const std::string& raw) {
  std::string text;
  for (char c : shown_utf8(raw)) {
    switch (c) {
      case '&': text += "&amp;"; break;
      case '<': text += "&lt;"; break;
      case '>': text += "&gt;"; break;
      case '"': text += "&quot;"; break;
      case '\'': text += "&#39;"; break;
      default: text += c;
    }
  }
  return text;
}

std::string Number(const char* format, double value) {
  char text[48];
  snprintf(text, sizeof(text), format, value);
  return text;
}

// The time axis's step: a round one that gives at most six ticks.
double TickStep(double total) {
  const double steps[] = {1,    2,    5,    10,   15,    20,    30,
                          60,   120,  300,  600,  900,   1200,  1800,
                          3600, 7200, 10800, 21600, 43200, 86400};
  for (double step : steps) {
    if (total / step <= 6)
      return step;
  }
  return total / 6;
}

// The word a card goes by now: its outcome, or running or waiting.
std::string State(const CardView& card) {
  if (!card.outcome.empty())
    return card.outcome;
  return card.running ? "running" : "waiting";
}

int Waves(const CampaignView& view) {
  int waves = 1;
  for (const CardView& card : view.cards)
    waves = std::max(waves, card.wave);
  return waves;
}

std::string Said(const CardView& card) {
  return card.outcome.empty() ? State(card) : card.said;
}

// Beyond this many, cards of one kind are folded or listed in short.
const size_t kInFull = 20;

bool NotStarted(const CardView& card) {
  return card.outcome == outcome_words(OUTCOME_NOT_STARTED).word;
}

// "a, b, c", the addresses beyond kInFull folded.
std::string Addresses(const std::vector<const CardView*>& cards) {
  std::string text;
  for (size_t i = 0; i < cards.size(); ++i) {
    if (i == kInFull)
      text += " <details><summary>and " + std::to_string(cards.size() - i) +
              " more</summary>";
    else if (i > 0)
      text += ", ";
    text += Escape(cards[i]->address);
  }
  if (cards.size() > kInFull)
    text += "</details>";
  return text;
}

// The last line of a card's block that says something.
std::string LastLine(const std::string& tail) {
  size_t end = tail.find_last_not_of(" \t\r\n");
  if (end == std::string::npos)
    return "";
  size_t begin = tail.rfind('\n', end);
  begin = begin == std::string::npos ? 0 : begin + 1;
  return tail.substr(begin, end + 1 - begin);
}

// The line at the top: how the campaign ended, or that it runs.
void EndLine(const CampaignView& view, std::string* out) {
  if (!view.ended && view.paused) {
    *out += "<p class=\"end paused\" data-end=\"paused\"><b>Paused: no "
            "card is started until the campaign is resumed (SIGUSR2); the "
            "running ones finish.</b> This page was written at " +
            Escape(view.updated) + ".</p>\n";
    return;
  }
  if (!view.ended) {
    *out += "<p class=\"end running\" data-end=\"running\">Running; this "
            "page was written at " + Escape(view.updated) + ".</p>\n";
    return;
  }
  if (view.stop_kind.empty()) {
    *out += "<p class=\"end completed\" data-end=\"completed\"><b>"
            "Completed: every card was tried.</b> Ended at " +
            Escape(view.updated) + ".</p>\n";
    return;
  }
  auto counted = view.by_outcome.find(outcome_words(OUTCOME_NOT_STARTED).word);
  int not_started = counted == view.by_outcome.end() ? 0 : counted->second;
  *out += "<p class=\"end stopped\" data-end=\"" + Escape(view.stop_kind) +
          "\"><b>" + Escape(view.stop_said) + ".</b> Ended at " +
          Escape(view.updated) + "; " + std::to_string(not_started) +
          (not_started == 1 ? " card was" : " cards were") +
          " not started.</p>\n";
}

// A module with its SHA-256, to compare with what was delivered.
std::string ModuleCell(const std::string& name, const std::string& sha256) {
  return Escape(name) +
         (sha256.empty() ? std::string()
                         : "<br><code class=\"sha256\">SHA-256 " +
                               Escape(sha256) + "</code>");
}

// The failure rate's limit, and how far the cards have come towards it.
std::string FailureRateCell(const CampaignView& view) {
  int loads = view.loads, failed = view.load_failures;
  return "limit " + Number("%g", view.rate_limit) + "%; " +
         (loads ? "reached " + Number("%.0f", 100.0 * failed / loads) +
                      "% (" + std::to_string(failed) + " of " +
                      std::to_string(loads) +
                      " cards that reached a module load)"
                : std::string("no card has reached a module load"));
}

// The report resumed from, and the first runs its records name.
std::string ResumedCell(const CampaignView& view) {
  std::string runs;
  for (size_t i = 0; i < view.resumed_runs.size() && i < 5; ++i)
    runs += (i ? ", " : "") + Escape(view.resumed_runs[i]);
  if (view.resumed_runs.size() > 5)
    runs += " and " + std::to_string(view.resumed_runs.size() - 5) + " more";
  const char* opening = view.resumed_runs.size() == 1 ? " (run " : " (runs ";
  return "<code>" + Escape(view.resumed) + "</code>" +
         (runs.empty() ? "" : opening + runs + ")");
}

void RunTable(const CampaignView& view, std::string* out) {
  auto row = [out](const char* name, const std::string& value) {
    *out += std::string("<tr><th>") + name + "</th><td>" + value +
            "</td></tr>\n";
  };
  *out += "<table class=\"run\">\n";
  row("Run", Escape(view.run_id));
  row("Started", Escape(view.started));
  row(view.ended ? "Ended" : "Updated", Escape(view.updated));
  row("Took", page_duration(view.elapsed));
  if (view.planned_seconds >= 0)
    row("Planned end", Escape(view.planned_end) + " (" +
                           page_duration(view.planned_seconds) + ")");
  row("ZEL module", ModuleCell(view.zel_module, view.zel_sha256));
  row("APP module", ModuleCell(view.app_module, view.app_sha256));
  if (!view.patch_module.empty())
    row("Interim patch", ModuleCell(view.patch_module, view.patch_sha256));
  if (!view.run_by.empty() || !view.host.empty())
    row("Run by", Escape(view.run_by) + " on " + Escape(view.host));
  if (!view.command_line.empty())
    row("Command line", "<code>" + Escape(view.command_line) + "</code>");
  else
    row("Options", "<code>" + Escape(view.options) + "</code>");
  if (!view.tool_version.empty())
    row("Tool", Escape(view.tool_version));
  if (!view.window_end.empty())
    row("Window ends", Escape(view.window_end));
  if (view.soak > 0)
    row("Soak", page_duration(view.soak) +
                    " after each upgraded card ends, then its check; the "
                    "next wave waits for the checks");
  if (view.rate_limit >= 0)
    row("Failure rate", FailureRateCell(view));
  if (view.max_failures > 0)
    row("Failure limit", std::to_string(view.max_failures) + " cards");
  if (!view.resumed.empty())
    row("Resumed from", ResumedCell(view));
  row("Cards", std::to_string(view.cards.size()));
  if (Waves(view) > 1)
    row("Waves", std::to_string(Waves(view)));
  *out += "</table>\n";
}

void Counts(const CampaignView& view, std::string* out) {
  // The cards that ended as counted, those still running or waiting by
  // their rows.
  std::map<std::string, int> counts = view.by_outcome;
  for (const CardView& card : view.cards) {
    if (card.outcome.empty())
      ++counts[State(card)];
  }
  double total = std::max<double>(view.cards.size(), 1);
  std::string bar = "<div class=\"bar\">", legend = "<ul class=\"counts\">\n";
  for (const auto& [state, colour] : Colours()) {
    auto found = counts.find(state);
    if (found == counts.end())
      continue;
    std::string count = std::to_string(found->second);
    bar += std::string("<span class=\"o-") + state + "\" style=\"width:" +
           Number("%.3f", 100.0 * found->second / total) + "%\" title=\"" +
           state + ": " + count + "\"></span>";
    legend += std::string("<li data-outcome=\"") + state + "\" data-count=\"" +
              count + "\"><span class=\"sw o-" + state + "\"></span>" +
              state + ": <b>" + count + "</b></li>\n";
  }
  *out += "<h2>Outcomes</h2>\n" + bar + "</div>\n" + legend + "</ul>\n";
}

// A row of cards by state: its key, its cards, their states.
std::string StateRow(const char* kind, const std::string& key, int cards,
                     const std::map<std::string, int>& counts) {
  std::string by;
  for (const auto& [state, colour] : Colours()) {
    auto found = counts.find(state);
    if (found == counts.end())
      continue;
    by += std::string(by.empty() ? "" : ", ") + "<span class=\"sw o-" + state +
          "\"></span>" + state + ": " + std::to_string(found->second);
  }
  return std::string("<tr data-") + kind + "=\"" + Escape(key) + "\"><td>" +
         Escape(key) + "</td><td>" + std::to_string(cards) + "</td><td>" + by +
         "</td></tr>\n";
}

// Each wave's cards by state, when there are waves.
void WaveTable(const CampaignView& view, std::string* out) {
  int waves = Waves(view);
  if (waves < 2)
    return;
  std::vector<std::map<std::string, int>> counts(waves + 1);
  std::vector<int> sizes(waves + 1);
  for (const CardView& card : view.cards) {
    if (card.wave < 1)
      continue;
    ++counts[card.wave][State(card)];
    ++sizes[card.wave];
  }
  *out += "<h2>Waves</h2>\n<table class=\"waves\"><tr><th>Wave</th>"
          "<th>Cards</th><th>By outcome</th></tr>\n";
  for (int wave = 1; wave <= waves; ++wave)
    *out += StateRow("wave", std::to_string(wave), sizes[wave], counts[wave]);
  *out += "</table>\n";
}

// Each group's cards by state, when --groups gave any.
void GroupTable(const CampaignView& view, std::string* out) {
  std::map<std::string, std::map<std::string, int>> counts;
  std::map<std::string, int> sizes;
  for (const CardView& card : view.cards) {
    ++counts[card.group][State(card)];
    ++sizes[card.group];
  }
  if (sizes.size() < 2 && sizes.count("-"))
    return;
  *out += "<h2>Groups</h2>\n<table class=\"groups\"><tr><th>Group</th>"
          "<th>Cards</th><th>By outcome</th></tr>\n";
  for (const auto& [group, size] : sizes)
    *out += StateRow("group", group, size, counts[group]);
  *out += "</table>\n";
}

void Versions(const CampaignView& view, std::string* out) {
  std::map<std::pair<std::string, std::string>, int> changes;
  for (const CardView& card : view.cards) {
    // A card left as it was runs, after, what it ran before.
    bool current =
        card.outcome == outcome_words(OUTCOME_ALREADY_CURRENT).word;
    if (!card.zel_before.empty())
      ++changes[{card.zel_before, current && card.zel_after.empty()
                                      ? card.zel_before
                                      : card.zel_after}];
  }
  *out += "<h2>ZEL versions</h2>\n";
  if (changes.empty()) {
    *out += "<p>No card's version was read yet.</p>\n";
    return;
  }
  std::vector<std::pair<int, std::pair<std::string, std::string>>> rows;
  for (const auto& [change, count] : changes)
    rows.push_back({count, change});
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  *out += "<table class=\"versions\"><tr><th>Before</th><th></th>"
          "<th>After</th><th>Cards</th></tr>\n";
  for (const auto& [count, change] : rows) {
    *out += "<tr><td>" + Escape(change.first) + "</td><td>\u2192</td><td>" +
            (change.second.empty() ? std::string("(not read)")
                                   : Escape(change.second)) +
            "</td><td>" + std::to_string(count) + "</td></tr>\n";
  }
  *out += "</table>\n";
}

// An element's attributes in their order, each value as plain text.
using Attributes = std::vector<std::pair<const char*, std::string>>;

// ` name="value"` for each, as a tag carries them.
std::string AttributeList(const Attributes& attributes) {
  std::string list;
  for (const auto& [attribute, value] : attributes)
    list += std::string(" ") + attribute + "=\"" + Escape(value) + "\"";
  return list;
}

// `content` is markup: any text in it is escaped already.
std::string Element(const char* name, const Attributes& attributes,
                    const std::string& content) {
  return std::string("<") + name + AttributeList(attributes) + ">" + content +
         "</" + name + ">";
}

std::string EmptyElement(const char* name, const Attributes& attributes) {
  return std::string("<") + name + AttributeList(attributes) + "/>";
}

// The timeline's coordinates: to a tenth, to a hundredth for the bars.
std::string Tenths(double value) {
  return Number("%.1f", value);
}

std::string Hundredths(double value) {
  return Number("%.2f", value);
}

// A label; `anchor` is the SVG's text-anchor, nullptr for its default.
std::string Text(const std::string& x, const std::string& y,
                 const char* anchor, const std::string& content) {
  Attributes attributes = {{"x", x}, {"y", y}};
  if (anchor)
    attributes.push_back({"text-anchor", anchor});
  return Element("text", attributes, content);
}

std::string Rect(const std::string& class_name, double x, double y,
                 double width, double height) {
  return EmptyElement("rect", {{"class", class_name},
                               {"x", Hundredths(x)},
                               {"y", Hundredths(y)},
                               {"width", Hundredths(width)},
                               {"height", Hundredths(height)}});
}

// The timeline's lines stand from just under the axis's labels to `bottom`.
const char kLinesTop[] = "14";

std::string VerticalLine(const char* class_name, double x, double bottom) {
  return EmptyElement("line", {{"class", class_name},
                               {"x1", Tenths(x)},
                               {"x2", Tenths(x)},
                               {"y1", kLinesTop},
                               {"y2", Tenths(bottom)}});
}

// Where the timeline draws: a row per card that started, its seconds
// across, its labels on the left.
struct Plot {
  static constexpr double kLeft = 120, kRight = 10, kTop = 26, kBottom = 8;
  static constexpr double kWidth = 1000;

  // Rows shrink as cards grow in number, so that 1,000 fit one screen.
  Plot(double seconds, size_t rows)
      : total(seconds),
        row(std::clamp(600.0 / rows, 0.6, 18.0)),
        height(kTop + row * rows + kBottom) {}

  double X(double seconds) const {
    return kLeft + seconds / total * (kWidth - kLeft - kRight);
  }
  double Y(size_t i) const { return kTop + row * i; }
  double Bottom() const { return height - kBottom; }

  double total;   // the seconds across
  double row;     // a row's height
  double height;  // the whole drawing's
};

// The cards that started, in the order they started, and the seconds the
// timeline spans: the campaign's, or more for a card that ended later.
std::vector<const CardView*> StartedCards(const CampaignView& view,
                                          double* total) {
  std::vector<const CardView*> started;
  *total = std::max(view.elapsed, 1.0);
  for (const CardView& card : view.cards) {
    if (card.start < 0)
      continue;
    started.push_back(&card);
    *total = std::max(*total, card.end);
  }
  std::stable_sort(started.begin(), started.end(),
                   [](const CardView* a, const CardView* b) {
                     return a->start < b->start;
                   });
  return started;
}

// A line at each round step of time, its time above it.
std::string TimeAxis(const Plot& plot) {
  std::string axis;
  double step = TickStep(plot.total);
  for (double at = 0; at <= plot.total; at += step) {
    const char* anchor =
        at == 0 ? "start" : at + step > plot.total ? "end" : "middle";
    axis += VerticalLine("axis", plot.X(at), plot.Bottom()) +
            Text(Tenths(plot.X(at)), "11", anchor, page_duration(at)) + "\n";
  }
  return axis;
}

// A dashed line where each wave after the first started, with its number.
std::string WaveStarts(const CampaignView& view,
                       const std::vector<const CardView*>& started,
                       const Plot& plot) {
  std::string marks;
  for (int wave = 2; wave <= Waves(view); ++wave) {
    double first = -1;
    for (const CardView* card : started) {
      if (card->wave == wave && (first < 0 || card->start < first))
        first = card->start;
    }
    if (first < 0)
      continue;
    marks += VerticalLine("wave", plot.X(first), plot.Bottom()) +
             Text(Tenths(plot.X(first) + 3), "23", nullptr,
                  "wave " + std::to_string(wave)) +
             "\n";
  }
  return marks;
}

// A shaded span for each time starting cards was paused, from its start to
// its resume (or to now), labelled.
std::string PauseSpans(const CampaignView& view, const Plot& plot) {
  std::string spans;
  for (const PauseView& pause : view.pauses) {
    double end = pause.end >= 0 ? pause.end : view.elapsed;
    double x = plot.X(pause.start);
    double top = std::stod(kLinesTop);
    spans += Element(
                 "g", {{"class", "pause"}},
                 Element("title", {},
                         "Paused for " + page_duration(end - pause.start) +
                             (pause.end >= 0 ? std::string()
                                             : std::string(", still paused"))) +
                     Rect("pause", x, top,
                          std::max(plot.X(end) - x, 1.0),
                          plot.Bottom() - top) +
                     Text(Tenths(x + 3), Tenths(plot.Bottom() - 3), nullptr,
                          "paused")) +
             "\n";
  }
  return spans;
}

// What a card's row says when pointed at: the card, how it ended, and how
// long it took, from its first start to its `end`.
std::string RowTitle(const CardView& card, double end, size_t tries) {
  return Element("title", {},
                 Escape(card.address) + ": " + Escape(Said(card)) + ", " +
                     page_duration(end - card.start) +
                     (tries > 1 ? ", " + std::to_string(tries) + " tries"
                                : std::string()));
}

// A bar for each try, coloured by how it ended; the last try's colour is
// the card's state. A try not ended reaches the card's `end`.
std::string TryBars(const std::vector<TryView>& spans,
                    const std::string& state, double end, double y,
                    const Plot& plot) {
  std::string bars;
  for (size_t k = 0; k < spans.size(); ++k) {
    const TryView& span = spans[k];
    double span_end = span.end >= 0 ? span.end : end;
    std::string colour =
        k + 1 < spans.size() && !span.outcome.empty() ? span.outcome : state;
    bars += Rect("try o-" + colour, plot.X(span.start), y,
                 std::max(plot.X(span_end) - plot.X(span.start), 1.0),
                 plot.row * 0.8);
  }
  return bars;
}

// The `i`th row: the card's tries up to its end (or to now, `elapsed`), and
// its address when the rows are high enough to read it.
std::string CardRow(const CardView& card, size_t i, const Plot& plot,
                    double elapsed) {
  double end = card.end >= 0 ? card.end : elapsed;
  double y = plot.Y(i);
  // Each try its own bar; the waits between tries are not work.
  std::vector<TryView> spans = card.spans;
  if (spans.empty())
    spans.push_back({card.start, card.end, ""});
  std::string row = Element(
      "g", {{"class", "card-bar"}, {"data-address", card.address}},
      RowTitle(card, end, spans.size()) +
          TryBars(spans, State(card), end, y, plot));
  if (plot.row >= 10)
    row += Text(Number("%.0f", Plot::kLeft - 6), Tenths(y + plot.row * 0.7),
                "end", Escape(card.address));
  return row + "\n";
}

// The campaign drawn: a row per card that started, in the order they
// started, the time across, each wave's start marked.
void Timeline(const CampaignView& view, std::string* out) {
  double total;
  std::vector<const CardView*> started = StartedCards(view, &total);
  *out += "<h2>Timeline</h2>\n";
  if (started.empty()) {
    *out += "<p>No card has started yet.</p>\n";
    return;
  }
  Plot plot(total, started.size());
  std::string drawing = "\n" + TimeAxis(plot) + PauseSpans(view, plot) +
                        WaveStarts(view, started, plot);
  for (size_t i = 0; i < started.size(); ++i)
    drawing += CardRow(*started[i], i, plot, view.elapsed);
  *out += Element("svg",
                  {{"class", "timeline"},
                   {"xmlns", "http://www.w3.org/2000/svg"},
                   {"viewBox", "0 0 " + Number("%.0f", Plot::kWidth) + " " +
                                   Tenths(plot.height)},
                   {"role", "img"},
                   {"aria-label", "Timeline"}},
                  drawing) +
          "\n";
}

void FailedCards(const std::vector<const CardView*>& failed,
                 std::string* out) {
  *out += "<h2>Cards that did not end well (" + std::to_string(failed.size()) +
          ")</h2>\n";
  if (failed.empty())
    *out += "<p>None.</p>\n";
  for (size_t i = 0; i < failed.size() && i < kInFull; ++i) {
    const CardView* card = failed[i];
    *out += "<section class=\"card\"><h3><span class=\"sw o-" + card->outcome +
            "\"></span>" + Escape(card->address) + ": " + Escape(card->said) +
            "</h3>\n";
    if (card->tries > 1)
      *out += "<p>Tried " + std::to_string(card->tries) + " times.</p>\n";
    if (!card->tail.empty())
      *out += "<pre>" + Escape(card->tail) + "</pre>\n";
    *out += "</section>\n";
  }
  if (failed.size() <= kInFull)
    return;
  size_t rest = failed.size() - kInFull;
  *out += std::string("<details") + (rest <= 100 ? " open" : "") +
          "><summary>" + std::to_string(rest) +
          " more</summary>\n<table class=\"cards failed-rest\"><tr>"
          "<th>Card</th><th>Outcome</th><th>Last line</th></tr>\n";
  for (size_t i = kInFull; i < failed.size(); ++i) {
    const CardView* card = failed[i];
    *out += "<tr><td>" + Escape(card->address) + "</td><td><span class=\"sw o-" +
            card->outcome + "\"></span>" + Escape(card->said) +
            "</td><td><code>" + Escape(LastLine(card->tail)) +
            "</code></td></tr>\n";
  }
  *out += "</table>\n</details>\n";
}

// The cards not started, a row for each reason.
void NotStartedCards(const std::vector<const CardView*>& cards,
                     std::string* out) {
  if (cards.empty())
    return;
  std::vector<std::pair<std::string, std::vector<const CardView*>>> reasons;
  for (const CardView* card : cards) {
    auto same = std::find_if(reasons.begin(), reasons.end(),
                             [&](const auto& r) { return r.first == card->reason; });
    if (same == reasons.end())
      reasons.push_back({card->reason, {card}});
    else
      same->second.push_back(card);
  }
  *out += "<h2>Cards not started (" + std::to_string(cards.size()) +
          ")</h2>\n<table class=\"cards not-started\"><tr><th>Why</th>"
          "<th>Cards</th><th>Addresses</th></tr>\n";
  for (const auto& [reason, group] : reasons) {
    *out += "<tr data-count=\"" + std::to_string(group.size()) + "\"><td>" +
            (reason.empty() ? std::string("(no reason given)")
                            : Escape(reason)) +
            "</td><td>" + std::to_string(group.size()) + "</td><td>" +
            Addresses(group) + "</td></tr>\n";
  }
  *out += "</table>\n";
}

void OtherCards(const std::vector<const CardView*>& others,
                std::string* out) {
  *out += "<h2>The other cards (" + std::to_string(others.size()) + ")</h2>\n";
  if (others.empty())
    return;
  // Closed when long: the page stays quick to move about at 1,000 cards.
  *out += std::string("<details") + (others.size() <= 100 ? " open" : "") +
          "><summary>" + std::to_string(others.size()) +
          " cards</summary>\n<table class=\"cards\"><tr><th>Card</th>"
          "<th>Outcome</th><th>Wave</th><th>ZEL before</th>"
          "<th>ZEL after</th><th>Took</th><th>Tries</th></tr>\n";
  for (const CardView* card : others) {
    *out += "<tr><td>" + Escape(card->address) + "</td><td><span class=\"sw o-" +
            State(*card) + "\"></span>" + Escape(Said(*card)) + "</td><td>" +
            (card->wave ? std::to_string(card->wave) : "") + "</td><td>" +
            Escape(card->zel_before) + "</td><td>" + Escape(card->zel_after) +
            "</td><td>" + (card->end >= 0 ? page_duration(card->seconds) : "") +
            "</td><td>" + std::to_string(card->tries) + "</td></tr>\n";
  }
  *out += "</table>\n</details>\n";
}

}  // namespace

// "45 s", "3 min 20 s", "12 min", "2 h 05 min": an hour or more is never
// told in minutes alone.
std::string page_duration(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  long minutes = (s + 30) / 60;  // from ten minutes on, to the nearest
  char text[48];
  if (s < 120)
    snprintf(text, sizeof(text), "%ld s", s);
  else if (s < 600 && s % 60 != 0)
    snprintf(text, sizeof(text), "%ld min %ld s", s / 60, s % 60);
  else if (minutes < 60)
    snprintf(text, sizeof(text), "%ld min", minutes);
  else
    snprintf(text, sizeof(text), "%ld h %02ld min", minutes / 60,
             minutes % 60);
  return text;
}

std::string campaign_page(const CampaignView& view) {
  std::string kind = view.dry_run ? "Dry run" : "Campaign";
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      // Nothing is fetched from anywhere, even if a card's text tried.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
      "'none'; style-src 'unsafe-inline'\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, "
      "initial-scale=1\">\n";
  // A page left open in a browser shows the night's progress by itself.
  if (!view.ended)
    out += "<meta http-equiv=\"refresh\" content=\"30\">\n";
  out += "<title>" + kind + " " + Escape(view.run_id) + "</title>\n<style>" +
         kStyle;
  for (const auto& [state, colour] : Colours())
    out += std::string(".o-") + state + "{background:" + colour +
           ";fill:" + colour + "}";
  out += "</style>\n</head>\n<body>\n<h1>" + kind + " " + Escape(view.run_id) +
         "</h1>\n";
  EndLine(view, &out);
  RunTable(view, &out);
  Counts(view, &out);
  WaveTable(view, &out);
  GroupTable(view, &out);
  Versions(view, &out);
  Timeline(view, &out);
  std::vector<const CardView*> failed, not_started, others;
  for (const CardView& card : view.cards) {
    if (NotStarted(card))
      not_started.push_back(&card);
    else if (card.failure && !card.outcome.empty())
      failed.push_back(&card);
    else
      others.push_back(&card);
  }
  FailedCards(failed, &out);
  NotStartedCards(not_started, &out);
  OtherCards(others, &out);
  out += "</body>\n</html>\n";
  return out;
}
