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
    "text-align:left;vertical-align:top}"
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
    "section.card{border-left:4px solid #c62828;padding:0 0 0 10px;"
    "margin:1em 0}section.card h3{font-size:1em;margin:0}"
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

// "45 s", "3 min 20 s", "12 min", "2 h", "2 h 05 min".
std::string Duration(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  char text[48];
  if (s < 120)
    snprintf(text, sizeof(text), "%ld s", s);
  else if (s < 600 && s % 60 != 0)
    snprintf(text, sizeof(text), "%ld min %ld s", s / 60, s % 60);
  else if (s < 3600)
    snprintf(text, sizeof(text), "%ld min", s / 60);
  else if (s / 60 % 60 == 0)
    snprintf(text, sizeof(text), "%ld h", s / 3600);
  else
    snprintf(text, sizeof(text), "%ld h %02ld min", s / 3600, s / 60 % 60);
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

void RunTable(const CampaignView& view, std::string* out) {
  auto row = [out](const char* name, const std::string& value) {
    *out += std::string("<tr><th>") + name + "</th><td>" + value +
            "</td></tr>\n";
  };
  *out += "<table class=\"run\">\n";
  row("Run", Escape(view.run_id));
  row("Started", Escape(view.started));
  row(view.ended ? "Ended" : "Updated", Escape(view.updated));
  row("Took", Duration(view.elapsed));
  row("ZEL module", Escape(view.zel_module));
  row("APP module", Escape(view.app_module));
  row("Options", "<code>" + Escape(view.options) + "</code>");
  row("Cards", std::to_string(view.cards.size()));
  if (Waves(view) > 1)
    row("Waves", std::to_string(Waves(view)));
  *out += "</table>\n";
}

void Counts(const CampaignView& view, std::string* out) {
  std::map<std::string, int> counts;
  for (const CardView& card : view.cards)
    ++counts[State(card)];
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

void Versions(const CampaignView& view, std::string* out) {
  std::map<std::pair<std::string, std::string>, int> changes;
  for (const CardView& card : view.cards) {
    if (!card.zel_before.empty())
      ++changes[{card.zel_before, card.zel_after}];
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

// One bar per card that started, from its start to its end (or to now),
// in the order they started; the waves' starts are marked.
void Timeline(const CampaignView& view, std::string* out) {
  std::vector<const CardView*> bars;
  double total = std::max(view.elapsed, 1.0);
  for (const CardView& card : view.cards) {
    if (card.start < 0)
      continue;
    bars.push_back(&card);
    total = std::max(total, card.end);
  }
  *out += "<h2>Timeline</h2>\n";
  if (bars.empty()) {
    *out += "<p>No card has started yet.</p>\n";
    return;
  }
  std::stable_sort(bars.begin(), bars.end(),
                   [](const CardView* a, const CardView* b) {
                     return a->start < b->start;
                   });
  // Rows shrink as cards grow in number, so that 1,000 fit one screen.
  const double left = 120, right = 10, top = 26, bottom = 8, width = 1000;
  double row = std::clamp(600.0 / bars.size(), 0.6, 18.0);
  double height = top + row * bars.size() + bottom;
  double span = width - left - right;
  auto x = [&](double seconds) { return left + seconds / total * span; };
  *out += "<svg class=\"timeline\" xmlns=\"http://www.w3.org/2000/svg\" "
          "viewBox=\"0 0 " + Number("%.0f", width) + " " +
          Number("%.1f", height) + "\" role=\"img\" aria-label=\"Timeline\">\n";
  double step = TickStep(total);
  for (double at = 0; at <= total; at += step) {
    *out += "<line class=\"axis\" x1=\"" + Number("%.1f", x(at)) + "\" x2=\"" +
            Number("%.1f", x(at)) + "\" y1=\"14\" y2=\"" +
            Number("%.1f", height - bottom) + "\"/><text x=\"" +
            Number("%.1f", x(at)) + "\" y=\"11\" text-anchor=\"" +
            (at == 0 ? "start" : at + step > total ? "end" : "middle") +
            "\">" + Duration(at) + "</text>\n";
  }
  for (int wave = 2; wave <= Waves(view); ++wave) {
    double first = -1;
    for (const CardView* card : bars) {
      if (card->wave == wave && (first < 0 || card->start < first))
        first = card->start;
    }
    if (first < 0)
      continue;
    *out += "<line class=\"wave\" x1=\"" + Number("%.1f", x(first)) +
            "\" x2=\"" + Number("%.1f", x(first)) + "\" y1=\"14\" y2=\"" +
            Number("%.1f", height - bottom) + "\"/><text x=\"" +
            Number("%.1f", x(first) + 3) + "\" y=\"23\">wave " +
            std::to_string(wave) + "</text>\n";
  }
  for (size_t i = 0; i < bars.size(); ++i) {
    const CardView& card = *bars[i];
    double end = card.end >= 0 ? card.end : view.elapsed;
    double y = top + row * i;
    std::string state = State(card);
    *out += "<rect class=\"card-bar o-" + state + "\" data-address=\"" +
            Escape(card.address) + "\" x=\"" + Number("%.2f", x(card.start)) +
            "\" y=\"" + Number("%.2f", y) + "\" width=\"" +
            Number("%.2f", std::max(x(end) - x(card.start), 1.0)) +
            "\" height=\"" + Number("%.2f", row * 0.8) + "\"><title>" +
            Escape(card.address) + ": " + Escape(Said(card)) + ", " +
            Duration(end - card.start) + "</title></rect>";
    if (row >= 10)
      *out += "<text x=\"" + Number("%.0f", left - 6) + "\" y=\"" +
              Number("%.1f", y + row * 0.7) + "\" text-anchor=\"end\">" +
              Escape(card.address) + "</text>";
    *out += "\n";
  }
  *out += "</svg>\n";
}

void FailedCards(const std::vector<const CardView*>& failed,
                 std::string* out) {
  *out += "<h2>Cards that did not end well (" + std::to_string(failed.size()) +
          ")</h2>\n";
  if (failed.empty())
    *out += "<p>None.</p>\n";
  for (const CardView* card : failed) {
    *out += "<section class=\"card\"><h3><span class=\"sw o-" + card->outcome +
            "\"></span>" + Escape(card->address) + ": " + Escape(card->said) +
            "</h3>\n";
    if (!card->reason.empty())
      *out += "<p>Not started: " + Escape(card->reason) + ".</p>\n";
    if (card->tries > 1)
      *out += "<p>Tried " + std::to_string(card->tries) + " times.</p>\n";
    if (!card->tail.empty())
      *out += "<pre>" + Escape(card->tail) + "</pre>\n";
    *out += "</section>\n";
  }
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
            "</td><td>" + (card->end >= 0 ? Duration(card->seconds) : "") +
            "</td><td>" + std::to_string(card->tries) + "</td></tr>\n";
  }
  *out += "</table>\n</details>\n";
}

}  // namespace

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
         "</h1>\n<p>" +
         (view.ended ? "Ended at " + Escape(view.updated) + "."
                     : "Running; this page was written at " +
                           Escape(view.updated) + ".") +
         "</p>\n";
  RunTable(view, &out);
  Counts(view, &out);
  Versions(view, &out);
  Timeline(view, &out);
  std::vector<const CardView*> failed, others;
  for (const CardView& card : view.cards)
    (card.failure && !card.outcome.empty() ? failed : others).push_back(&card);
  FailedCards(failed, &out);
  OtherCards(others, &out);
  out += "</body>\n</html>\n";
  return out;
}
