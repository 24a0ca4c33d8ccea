// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The entry over arbitrary argument vectors: the parser, the usage path and
// the key wait. A command word switches the one simulated reader. A vector
// may also come through a raw command line: quoted as Windows programs quote
// arguments, it must split back into itself; any text must split safely.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/entry.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_system.h"

namespace {

using drvflip::platform::InputEvent;

const std::array<const wchar_t*, 13> kWords = {L"pcsc", L"tavi", L"query", L"-",  L"/",
                                               L"-?",   L"/?",   L"-h",    L"/H", L"-help",
                                               L"-x",   L"",     L"p*"};

std::wstring Argument(drvflip::fuzz::Input& in) {
  const std::uint8_t kind = in.Byte() % 4;
  if (kind == 0) return in.Text(40);
  if (kind == 1) return std::wstring(in.Below(40000), static_cast<wchar_t>(in.Word16() | 1U));
  std::wstring word = kWords.at(in.Below(kWords.size()));
  for (wchar_t& c : word) {
    if (in.Flag() && c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  if (kind == 3) word += in.Text(3);
  return word;
}

bool IsCommand(const std::wstring& arg) {
  std::wstring folded;
  for (const wchar_t c : arg)
    folded.push_back(c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c);
  return folded == L"pcsc" || folded == L"tavi" || folded == L"query";
}

// An argument quoted so that the split gives it back: in double quotes, each
// quote escaped, and the backslashes before a quote (or the closing one) doubled.
std::wstring Quote(const std::wstring& arg) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'"') {
      quoted.append(backslashes + 1, L'\\');
      backslashes = 0;
    } else {
      backslashes = c == L'\\' ? backslashes + 1 : 0;
    }
    quoted += c;
  }
  quoted.append(backslashes, L'\\');
  return quoted + L"\"";
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  drvflip::fuzz::Input in(data, size);
  drvflip::sim::SimSystem system;
  system.AddReader(L"\\\\?\\root#sim#0000#{c4414883-6b5b-44c2-b888-7d04fe8505d2}");
  drvflip::sim::SimConsole console;
  console.hasConsoleInput = in.Flag();
  console.emptyReadAtEnd = in.Flag();
  const std::uint32_t startMode = in.Word16();
  console.mode = startMode;
  for (std::uint32_t i = in.Below(5); i > 0; --i) {
    InputEvent event;
    event.kind = static_cast<InputEvent::Kind>(in.Below(5));
    event.keyDown = in.Flag();
    event.virtualKey = static_cast<std::uint16_t>(in.Byte());
    event.character = in.Flag() ? static_cast<wchar_t>(in.Word16()) : L'\0';
    console.events.push_back(event);
  }

  std::vector<std::wstring> args{L"drvflip.exe"};
  for (std::uint32_t n = in.Below(4); n > 0; --n) args.push_back(Argument(in));
  const std::uint32_t route = in.Below(3);
  if (route != 0) {
    static const auto split = std::make_unique<drvflip::app::ArgumentVector>();
    std::wstring line = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) line += L" " + Quote(args[i]);
    const bool roundTrip = route == 1 && line.size() <= drvflip::app::kMaxCommandLine &&
                           line.find(L'\0') == std::wstring::npos;
    if (route == 2) line = in.Text(200);
    drvflip::app::SplitCommandLine(line.c_str(), split.get());
    FUZZ_CHECK(split->argc >= 1 &&
               split->argv.at(static_cast<std::size_t>(split->argc)) == nullptr);
    std::vector<std::wstring> back(split->argv.begin(), split->argv.begin() + split->argc);
    if (roundTrip) FUZZ_CHECK(back == args);
    if (route == 2) args = back;
  }
  // Read last, so that an input that ends before it runs outside session 0.
  const bool session0 = in.Byte() % 4 == 3;
  if (session0) console.session = 0;
  std::vector<const wchar_t*> argv;
  for (const std::wstring& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  drvflip::platform::Platform os{system, system, console};
  int status = -1;
  {
    drvflip::console::Console out(console);
    status = drvflip::app::RunProgram(os, out, static_cast<int>(args.size()), argv.data());
  }
  FUZZ_CHECK(status == 0 || status == 1);
  const bool command = args.size() == 2 && IsCommand(args[1]);
  FUZZ_CHECK((status == 0) == command);
  if (status == 1) {
    FUZZ_CHECK(EndsWith(console.out, "\r\nPress any key to continue\r\n"));
    FUZZ_CHECK(console.waitsStarted == (session0 ? 0U : 1U));
    FUZZ_CHECK(system.Calls().empty());
    // At most one error line (an echoed argument may hold line feeds itself).
    FUZZ_CHECK(console.err.empty() ||
               (console.err.rfind("ERROR: ", 0) == 0 && EndsWith(console.err, "'.\r\n")));
    if (args.size() != 2) FUZZ_CHECK(console.err.empty());
  } else {
    FUZZ_CHECK(console.waitsStarted == 0);
    FUZZ_CHECK(console.err.empty());
  }
  FUZZ_CHECK(console.inputOpen == 0);
  FUZZ_CHECK(console.mode == startMode || !console.hasConsoleInput);
  FUZZ_CHECK(system.Problems().empty());
  return 0;
}
