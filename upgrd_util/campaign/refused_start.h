#ifndef UPGRD_UTIL_CAMPAIGN_REFUSED_START_H_
#define UPGRD_UTIL_CAMPAIGN_REFUSED_START_H_

#include <string>
#include <string_view>

#include "upgrd_util/campaign/night_inputs.h"
#include "upgrd_util/platform/console.h"
#include "upgrd_util/platform/platform.h"
#include "upgrd_util/run/tool_options.h"

/// For its life, the calling thread's console passes everything on and
/// keeps the first message that ends the run before it began
/// (Console::WriteError): why the night was refused, for those told of it.
class RefusalHeard : public Console {
 public:
  RefusalHeard();

  /// That message on one line, without the tool's name before it; "" when
  /// none was written.
  std::string line() const { return line_; }

  void Write(std::string_view text) override { console_->Write(text); }
  void WriteBackspaces(int count) override {
    console_->WriteBackspaces(count);
  }
  bool ReadLine(std::string* text) override {
    return console_->ReadLine(text);
  }
  bool IsTerminal() override { return console_->IsTerminal(); }
  bool IsWatched() override { return console_->IsWatched(); }
  void WriteError(std::string_view text) override;
  void SendErrorsApart() override { console_->SendErrorsApart(); }

 private:
  RefusalHeard(const RefusalHeard&) = delete;
  RefusalHeard& operator=(const RefusalHeard&) = delete;

  Console* console_;
  Platform seams_;
  ScopedThreadPlatform scope_;
  std::string line_;
};

/// The night's start was refused, for `reason`: the `refused` event to the
/// hook, when --on-event names a program that can be found, and the time
/// into the metrics file (refused_metrics: the last night's figures kept),
/// when --metrics names one that is none of the other options' files nor
/// the tool's own and `held_elsewhere` is false: a run that holds this
/// directory or the report may be writing that very file. A hook that
/// fails adds one line on standard error; a metrics file that cannot be
/// written, nothing (the refusal was said). Nothing else changes.
void tell_refused_start(const ToolOptions& options, const NightInputs& night,
                        bool held_elsewhere, const std::string& reason);

#endif  // UPGRD_UTIL_CAMPAIGN_REFUSED_START_H_
