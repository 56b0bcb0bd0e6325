#ifndef UPGRD_UTIL_PLATFORM_CONSOLE_H_
#define UPGRD_UTIL_PLATFORM_CONSOLE_H_

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

/// The operator's console: progress text out, one answer line in.
struct Console {
  virtual ~Console() {}

  /// Writes `text` to standard output; it is visible on the console when the
  /// call returns.
  virtual void Write(std::string_view text) = 0;

  /// Writes `count` backspace characters straight to the console device,
  /// after everything written before them. They may wait to go out with the
  /// next Write, which is to follow at once.
  virtual void WriteBackspaces(int count) = 0;

  /// Reads one line of any length. Returns false at end of input when nothing
  /// was read, and at once when an interrupt comes while it waits (see
  /// interrupts_received). Otherwise stores the line without its line end (LF or CR LF)
  /// in *line and returns true; characters past kMaxLineLength are read and
  /// dropped, so *line->size() == kMaxLineLength means "too long".
  virtual bool ReadLine(std::string* line) = 0;

  /// Returns true when the output goes to a terminal, where a line may be
  /// redrawn; false for a pipe or a file.
  virtual bool IsTerminal() { return false; }

  /// Returns true when the input comes from a terminal, where someone
  /// types, rather than from a pipe or a file.
  virtual bool InputIsTerminal() { return false; }

  /// Returns false when nobody sees the output, so that nothing needs
  /// drawing.
  virtual bool IsWatched() { return true; }

  /// Writes a message that ends the run before it began. The dialogue
  /// shows it as any other text; a campaign, run from scripts, sends such
  /// messages to standard error once it called SendErrorsApart.
  virtual void WriteError(std::string_view text) { Write(text); }
  virtual void SendErrorsApart() {}

  static constexpr size_t kMaxLineLength = 4096;
};

/// Standard input and output (other streams for tests).
struct RealConsole : public Console {
  explicit RealConsole(FILE* in = stdin, FILE* out = stdout,
                       FILE* errors = stderr)
      : in_(in), out_(out), errors_(errors) {}
  void Write(std::string_view text) override;
  void WriteBackspaces(int count) override;
  bool ReadLine(std::string* line) override;
  bool IsTerminal() override;
  bool InputIsTerminal() override;
  void WriteError(std::string_view text) override;
  void SendErrorsApart() override { errors_apart_ = true; }

 private:
  // ReadLine's rules over the bytes `next` gives (-1 at their end).
  static bool LineOf(const std::function<int()>& next, std::string* line);

  FILE* in_;
  FILE* out_;
  FILE* errors_;
  bool errors_apart_ = false;
};

/// A console nobody watches: output goes nowhere, and there is no input
/// (for a card upgraded beside others, which reports through its log).
struct SilentConsole : public Console {
  void Write(std::string_view) override {}
  void WriteBackspaces(int) override {}
  bool ReadLine(std::string*) override { return false; }
  bool IsWatched() override { return false; }
};

/// Text from outside the tool (a card's names and replies, a module file's
/// header) as it may be shown or logged: every byte below 0x20 and 0x7F
/// replaced by '?', so that none of it can drive a terminal.
std::string printable_text(std::string_view text);

/// Text from outside the tool as a campaign writes it (its console,
/// result.txt, its page and reports), which, unlike the dialogue's, are read
/// as UTF-8: control characters but tab and line end (C1 ones too), the
/// Unicode controls that reorder text (U+061C, U+200E, U+200F, U+202A to
/// U+202E, U+2066 to U+2069), which could make one card's line read as
/// another's, and the line and paragraph separators (U+2028, U+2029), which
/// would split a line of JSON for some readers, become '?'; bytes that are
/// not UTF-8 become U+FFFD.
std::string readable_text(std::string_view text);

/// printf-style text to the installed console, formatted into a bounded
/// buffer (longer results are cut at 4095 bytes).
void console_printf(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

/// The same, for a message that ends the run before it began (see
/// Console::WriteError).
void console_error_printf(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

#endif  // UPGRD_UTIL_PLATFORM_CONSOLE_H_
