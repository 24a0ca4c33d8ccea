// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/entry.h"
#include "harness.h"

namespace drvflip::testing {
namespace {

const std::string kUsage = Crlf(
    "\nUSAGE:\n\n   drvflip <command>\n\nCOMMANDS:\n\n   tavi\t\tLoad the USBIO driver.\n"
    "   pcsc\t\tLoad the PC/SC driver.\n   query\tShow the driver type now active.\n\n"
    "EXAMPLES:\n\n   drvflip tavi\n   drvflip pcsc\n   drvflip query\n\n"
    "\nPress any key to continue\n");

struct UsageCase {
  const char* name;
  std::vector<std::wstring> args;
  std::string err;  // the one error line before the usage, or none
};

TEST(CommandLine, EveryCallWithoutACommandShowsUsageAndWaits) {
  const std::wstring longArg(32000, L'q');
  const std::wstring wideArg = std::wstring(L"p") + wchar_t(0x4E2D) + L"c";
  const std::vector<UsageCase> cases = {
      {"no argument", {}, ""},
      {"two commands", {L"pcsc", L"tavi"}, ""},
      {"three arguments", {L"pcsc", L"-x", L"zz"}, ""},
      {"lone dash", {L"-"}, "ERROR: Missing value for option '-'.\n"},
      {"lone slash", {L"/"}, "ERROR: Missing value for option '/'.\n"},
      {"unknown option", {L"-x"}, "ERROR: Unrecognized option '-x'.\n"},
      {"unknown slash option", {L"/pcsc"}, "ERROR: Unrecognized option '/pcsc'.\n"},
      {"double dash", {L"--help"}, "ERROR: Unrecognized option '--help'.\n"},
      {"-?", {L"-?"}, ""},
      {"/?", {L"/?"}, ""},
      {"/H", {L"/H"}, ""},
      {"-h", {L"-h"}, ""},
      {"-help", {L"-help"}, ""},
      {"-hx", {L"-hx"}, ""},
      {"near command", {L"tavix"}, "ERROR: Unknown command 'tavix'.\n"},
      {"prefix of a command", {L"pcs"}, "ERROR: Unknown command 'pcs'.\n"},
      {"query, one letter short", {L"quer"}, "ERROR: Unknown command 'quer'.\n"},
      {"query, one letter more", {L"querys"}, "ERROR: Unknown command 'querys'.\n"},
      {"empty argument", {L""}, "ERROR: Unknown command ''.\n"},
      {"one quoted argument with a blank", {L"pcsc tavi"}, "ERROR: Unknown command 'pcsc tavi'.\n"},
      {"wildcard as typed", {L"p*"}, "ERROR: Unknown command 'p*'.\n"},
      {"leading blank", {L" pcsc"}, "ERROR: Unknown command ' pcsc'.\n"},
      {"non-ASCII letter", {wideArg}, "ERROR: Unknown command 'p?c'.\n"},
      {"Latin-1 letter is its own byte", {L"pcs\u00E7"}, "ERROR: Unknown command 'pcs\xE7'.\n"},
      {"very long argument",
       {longArg},
       "ERROR: Unknown command '" + std::string(32000, 'q') + "'.\n"},
  };
  for (const UsageCase& c : cases) {
    Machine m;
    m.console.hasConsoleInput = true;
    m.console.events = {Key(L'a', 0x41)};
    int status = -1;
    switch (c.args.size()) {
      case 0: status = m.Run({}); break;
      case 1: status = m.Run({c.args[0]}); break;
      case 2: status = m.Run({c.args[0], c.args[1]}); break;
      default: status = m.Run({c.args[0], c.args[1], c.args[2]}); break;
    }
    EXPECT_EQ(status, 1) << c.name;
    EXPECT_EQ(m.console.out, kUsage) << c.name;
    EXPECT_EQ(m.console.err, Crlf(c.err)) << c.name;
    EXPECT_EQ(m.console.reads, 1U) << c.name << ": one key read";
    EXPECT_EQ(m.system.Calls().size(), 0U) << c.name << ": no reader is looked for";
  }
}

TEST(CommandLine, CommandWordsInAnyCaseAreParsedToTheCanonicalName) {
  struct Case {
    const wchar_t* typed;
    app::CommandId id;
    std::wstring name;
  };
  for (const Case& c :
       {Case{L"pcsc", app::kCommandPcsc, L"pcsc"}, Case{L"PCSC", app::kCommandPcsc, L"pcsc"},
        Case{L"pCsC", app::kCommandPcsc, L"pcsc"}, Case{L"tavi", app::kCommandTavi, L"tavi"},
        Case{L"Tavi", app::kCommandTavi, L"tavi"}, Case{L"TAVI", app::kCommandTavi, L"tavi"},
        Case{L"query", app::kCommandQuery, L"query"}, Case{L"QUERY", app::kCommandQuery, L"query"},
        Case{L"qUeRy", app::kCommandQuery, L"query"}}) {
    sim::SimConsole io;
    console::Console console(io);
    const wchar_t* argv[] = {L"drvflip", c.typed, nullptr};  // NOLINT(*-avoid-c-arrays)
    app::CommandState state;
    ASSERT_TRUE(app::ParseCommandLine(console, 2, argv, &state)) << c.typed;
    EXPECT_EQ(state.id, c.id);
    EXPECT_EQ(std::wstring(state.name.data()), c.name);
    EXPECT_EQ(state.name.back(), L'\0');
  }
}

TEST(CommandLine, OnlyAsciiLettersFold) {
  // U+0130 and U+212A fold to 'i' and 'k' in some locales; here they are no letters of a command.
  for (const wchar_t* typed : {L"tav\u0130", L"pcsc\t", L"pcsc\u0000x"}) {
    sim::SimConsole io;
    console::Console console(io);
    const wchar_t* argv[] = {L"drvflip", typed, nullptr};  // NOLINT(*-avoid-c-arrays)
    app::CommandState state;
    const bool parsed = app::ParseCommandLine(console, 2, argv, &state);
    EXPECT_EQ(parsed, std::wstring(typed) == L"pcsc") << "only an embedded NUL ends the word early";
  }
}

TEST(CommandLine, ACommandRunsTheSwitchAndDoesNotWait) {
  for (const wchar_t* word : {L"pcsc", L"TAVI"}) {
    Machine m;
    m.console.hasConsoleInput = true;
    EXPECT_EQ(m.Run({word}), 0);
    EXPECT_EQ(m.console.out, Crlf("0 device(s) found.\n"));
    EXPECT_EQ(m.console.err, "");
    EXPECT_EQ(m.console.waitsStarted, 0U);
  }
}

// The usage waits for a key only where one can come: never without a console
// input device, never in session 0 (services and what they start), even with
// a console; where the session cannot be learnt, it waits.
TEST(CommandLine, UsageWaitsOnlyWhereAKeyCanCome) {
  struct Case {
    const char* name;
    bool console;
    std::optional<std::uint32_t> session;
    std::size_t opened;  // console input devices opened
    std::size_t reads;
  };
  for (const Case& c :
       {Case{"no console", false, 1, 1, 0}, Case{"session 0", true, 0, 0, 0},
        Case{"session 0, no console", false, 0, 0, 0}, Case{"session 1", true, 1, 1, 1},
        Case{"session 2", true, 2, 1, 1}, Case{"session unknown", true, std::nullopt, 1, 1}}) {
    Machine m;
    m.console.hasConsoleInput = c.console;
    m.console.session = c.session;
    m.console.events = {Key(L'a', 0x41)};
    EXPECT_EQ(m.Run({L"-?"}), 1) << c.name;
    EXPECT_EQ(m.console.out, kUsage) << c.name;
    EXPECT_EQ(m.console.err, "") << c.name;
    EXPECT_EQ(m.console.waitsStarted, c.opened) << c.name;
    EXPECT_EQ(m.console.reads, c.reads) << c.name;
    EXPECT_EQ(m.console.inputOpen, 0) << c.name;
  }
}

// Raw command lines, as GetCommandLineW gives them, and the vectors they split into.
TEST(CommandLine, TheRawLineIsSplitByOneSetOfRules) {
  struct Case {
    const wchar_t* line;
    std::vector<std::wstring> args;  // element 0 first
  };
  const std::vector<Case> cases = {
      {L"drvflip pcsc", {L"drvflip", L"pcsc"}},
      {L"", {L""}},
      {L"drvflip", {L"drvflip"}},
      {L"drvflip \t pcsc\ttavi  ", {L"drvflip", L"pcsc", L"tavi"}},  // tabs, trailing blanks
      {L"d \"pcsc\"", {L"d", L"pcsc"}},
      {L"d \"pcsc tavi\"", {L"d", L"pcsc tavi"}},
      {L"d \"\"", {L"d", L""}},  // an empty quoted argument
      {L"d \"\" x", {L"d", L"", L"x"}},
      {L"d p\"cs\"c", {L"d", L"pcsc"}},                  // quotes inside a word
      {L"d \"a\"\"b c\"", {L"d", L"a\"b c"}},            // "" mid-stretch: the stretch goes on
      {L"d \"\"\"a b\"", {L"d", L"\"a b"}},              // "" at the start of a stretch
      {L"d \"a b\"\"\"", {L"d", L"a b\""}},              // "" at its end
      {L"d a\"\"b", {L"d", L"ab"}},                      // "" outside a stretch: open, close
      {L"d \"a b", {L"d", L"a b"}},                      // unterminated: runs to the end
      {L"d a\\b c:\\x\\", {L"d", L"a\\b", L"c:\\x\\"}},  // backslashes without a quote
      {L"d a\\\"b", {L"d", L"a\"b"}},                    // odd: the quote is literal
      {L"d a\\\\\"b c\"", {L"d", L"a\\b c"}},            // even: halved, the quote groups
      {L"d a\\\\\\\"b", {L"d", L"a\\\"b"}},              // three: one, then a literal quote
      {L"d \"a\\\" b\"", {L"d", L"a\" b"}},              // an escaped quote inside a stretch
      {L"d \"c:\\dir\\\\\" x", {L"d", L"c:\\dir\\", L"x"}},
      {L"d p*", {L"d", L"p*"}},  // no wildcard expansion
      {L"C:\\dir\\\"drvflip.exe\" tavi", {L"C:\\dir\\drvflip.exe", L"tavi"}},  // name: \ literal
      {L"\"C:\\Program Files\\drvflip.exe\" pcsc", {L"C:\\Program Files\\drvflip.exe", L"pcsc"}},
      {L"\"C:\\a b\\\" x", {L"C:\\a b\\", L"x"}},
      {L"\"a\"\"b\" c", {L"ab", L"c"}},  // the name's quotes only group
      {L" pcsc", {L"", L"pcsc"}},        // an empty name
  };
  auto split = std::make_unique<app::ArgumentVector>();  // too large for a test's stack
  for (const Case& c : cases) {
    app::SplitCommandLine(c.line, split.get());
    std::vector<std::wstring> got(split->argv.begin(), split->argv.begin() + split->argc);
    EXPECT_EQ(got, c.args) << "line: " << std::string(c.line, c.line + std::wcslen(c.line));
    EXPECT_EQ(split->argv[static_cast<std::size_t>(split->argc)], nullptr);
  }
}

// The longest line Windows passes, in the two shapes that need the most room.
TEST(CommandLine, A32767CharacterLineFits) {
  auto split = std::make_unique<app::ArgumentVector>();
  const std::wstring name(32767, L'x');
  app::SplitCommandLine((name + L"y").c_str(), split.get());
  ASSERT_EQ(split->argc, 1);
  EXPECT_EQ(split->argv[0], name) << "the most characters: all of them and a terminator";
  std::wstring many = L"d";
  while (many.size() + 2 <= 32767) many += L" a";
  app::SplitCommandLine((many + L" overflow").c_str(), split.get());
  EXPECT_EQ(split->argc, 16384) << "what lies past 32767 characters is not read";
  EXPECT_EQ(std::wstring(split->argv[16383]), L"a");
  EXPECT_EQ(split->argv[16384], nullptr);
}

}  // namespace
}  // namespace drvflip::testing
