// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <cstddef>

namespace drvflip::app {
namespace {

constexpr bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

// Reads the line and writes the arguments' characters, each followed by its
// terminator, into chars.
class Splitter {
 public:
  Splitter(const wchar_t* line, std::size_t length, wchar_t* chars)
      : line_(line), length_(length), out_(chars) {}

  [[nodiscard]] bool AtEnd() const { return at_ == length_; }
  [[nodiscard]] const wchar_t* Next() const { return out_ + written_; }

  void SkipBlanks() {
    while (!AtEnd() && IsBlank(line_[at_])) ++at_;
  }

  // The program's name: quotes group and are dropped, nothing else is special.
  void Name() {
    bool quoted = false;
    for (; !AtEnd() && (quoted || !IsBlank(line_[at_])); ++at_) {
      if (line_[at_] == L'"') {
        quoted = !quoted;
      } else {
        Put(line_[at_]);
      }
    }
    Put(L'\0');
  }

  // One argument, from a character that is not a blank.
  void Argument() {
    bool quoted = false;
    while (!AtEnd() && (quoted || !IsBlank(line_[at_]))) {
      std::size_t backslashes = 0;
      for (; !AtEnd() && line_[at_] == L'\\'; ++at_) ++backslashes;
      if (AtEnd() || line_[at_] != L'"') {
        Repeat(L'\\', backslashes);
        // What follows the backslashes is read on the next round.
        if (backslashes == 0) Put(line_[at_++]);
        continue;
      }
      Repeat(L'\\', backslashes / 2);
      if (backslashes % 2 == 1) {
        Put(L'"');  // an escaped quote
        ++at_;
      } else if (quoted && at_ + 1 < length_ && line_[at_ + 1] == L'"') {
        Put(L'"');  // "" inside a quoted stretch, which goes on
        at_ += 2;
      } else {
        quoted = !quoted;
        ++at_;
      }
    }
    Put(L'\0');
  }

 private:
  void Put(wchar_t c) { out_[written_++] = c; }
  void Repeat(wchar_t c, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Put(c);
  }

  const wchar_t* line_;
  std::size_t length_;
  wchar_t* out_;
  std::size_t at_ = 0;
  std::size_t written_ = 0;
};

}  // namespace

void SplitCommandLine(const wchar_t* line, ArgumentVector* args) {
  std::size_t length = 0;
  while (line != nullptr && length < kMaxCommandLine && line[length] != L'\0') ++length;
  Splitter split(line, length, args->chars.data());
  int argc = 0;
  args->argv[static_cast<std::size_t>(argc++)] = split.Next();
  split.Name();
  for (split.SkipBlanks(); !split.AtEnd(); split.SkipBlanks()) {
    args->argv[static_cast<std::size_t>(argc++)] = split.Next();
    split.Argument();
  }
  args->argv[static_cast<std::size_t>(argc)] = nullptr;
  args->argc = argc;
}

}  // namespace drvflip::app
