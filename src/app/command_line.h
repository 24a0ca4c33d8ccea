// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The split of a Windows command line (GetCommandLineW) into an argument
// vector, made here rather than by the C runtime: the msvcrt.dll of Windows
// splits with an older runtime's rules, under which "" inside a quoted
// stretch ends the stretch; Wine's msvcrt and the later Microsoft runtimes
// keep it open. drvflip splits the same way on every Windows:
//
// - Element 0, the program's name, ends at the first blank or tab outside
//   double quotes; double quotes there only group and are dropped, and
//   backslashes are literal.
// - After it, blanks and tabs separate arguments; double quotes group and are
//   dropped; inside a quoted stretch two double quotes give one literal double
//   quote and the stretch goes on. Backslashes are literal unless a double
//   quote follows: then each pair gives one backslash, and an odd last one
//   makes that quote literal. An unterminated quoted stretch runs to the end.
// - No wildcard expansion.
#pragma once

#include <array>
#include <cstddef>

namespace drvflip::app {

// Room for the longest command line Windows passes: 32,767 characters. The
// split never makes more characters than it reads plus one terminator, nor
// more than half as many arguments as characters plus the program's name.
inline constexpr std::size_t kMaxCommandLine = 32767;

struct ArgumentVector {
  int argc = 0;
  std::array<const wchar_t*, (kMaxCommandLine / 2) + 2> argv{};  // null after the last
  std::array<wchar_t, kMaxCommandLine + 1> chars{};
};

// Splits line (null counts as empty) into *args. Characters past the first
// 32,767 are not read.
void SplitCommandLine(const wchar_t* line, ArgumentVector* args);

}  // namespace drvflip::app
