// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The entry: argument parsing, the usage path and the hand-over to the
// switch run.
#include <algorithm>
#include <array>
#include <cstddef>

#include "app/command.h"
#include "app/entry.h"
#include "app/switch_run.h"
#include "console/console.h"
#include "platform/platform.h"
#include "reader/reader_discovery.h"

namespace drvflip::app {
namespace {

using console::Stream;

struct CommandRow {
  const wchar_t* word;
  CommandId id;
};

constexpr std::array<CommandRow, 3> kCommands{{{.word = L"tavi", .id = kCommandTavi},
                                               {.word = L"pcsc", .id = kCommandPcsc},
                                               {.word = L"query", .id = kCommandQuery}}};

constexpr wchar_t FoldAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// Compares case-insensitively, folding only A-Z to a-z.
bool SameWord(const wchar_t* typed, const wchar_t* canonical) {
  for (; *typed != L'\0' && *canonical != L'\0'; ++typed, ++canonical) {
    if (FoldAscii(*typed) != *canonical) return false;
  }
  return *typed == L'\0' && *canonical == L'\0';
}

void StoreName(CommandState* command, const wchar_t* word) {
  command->name.fill(L'\0');
  for (std::size_t i = 0; i + 1 < command->name.size() && word[i] != L'\0'; ++i) {
    command->name[i] = word[i];
  }
}

}  // namespace

bool ParseCommandLine(console::Console& console, int argc, const wchar_t* const* argv,
                      CommandState* command) {
  if (argc != 2) return false;
  const wchar_t* arg = argv[1];
  if (arg[0] == L'-' || arg[0] == L'/') {
    const wchar_t option = arg[1];
    if (option == L'\0') {
      console.Print(Stream::Err, L"ERROR: Missing value for option '%s'.\n", arg);
    } else if (option != L'?' && option != L'H' && option != L'h') {
      console.Print(Stream::Err, L"ERROR: Unrecognized option '%s'.\n", arg);
    }
    return false;
  }
  const auto* row = std::find_if(kCommands.begin(), kCommands.end(),
                                 [arg](const CommandRow& r) { return SameWord(arg, r.word); });
  if (row != kCommands.end()) {
    command->id = row->id;
    StoreName(command, row->word);
    return true;
  }
  console.Print(Stream::Err, L"ERROR: Unknown command '%s'.\n", arg);
  return false;
}

int ShowUsage(console::Console& console) {
  console.Print(Stream::Out,
                L"\nUSAGE:\n\n   drvflip <command>\n\nCOMMANDS:\n\n"
                L"   tavi\t\tLoad the USBIO driver.\n   pcsc\t\tLoad the PC/SC driver.\n"
                L"   query\tShow the driver type now active.\n\n"
                L"EXAMPLES:\n\n   drvflip tavi\n   drvflip pcsc\n   drvflip query\n\n");
  console.Print(Stream::Out, L"\nPress any key to continue\n");
  console.WaitKey();
  return kExitFailure;
}

int RunProgram(platform::Platform& os, console::Console& console, int argc,
               const wchar_t* const* argv) {
  reader::PathBuffer path{};
  CommandState command;
  if (!ParseCommandLine(console, argc, argv, &command)) return ShowUsage(console);
  if (command.id == kCommandQuery) return QueryRun(os, console, path);
  return SwitchRun(os, console, command, path);
}

}  // namespace drvflip::app
