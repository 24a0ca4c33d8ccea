// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// A whole simulated machine for one test: the simulated system (readers and
// their switch drivers), the simulated console, and the program run on them.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/switch_run.h"
#include "console/console.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_system.h"

namespace drvflip::testing {

// Text as Console writes it: each line feed as CR LF.
inline std::string Crlf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// How a simulated switch driver answers a request.
inline sim::Reply Refuse(std::uint32_t error) {
  return {.failWith = error, .bytes = {}, .pending = false, .failAtWait = 0};
}
inline sim::Reply Bytes(std::uint32_t count) {
  return {.failWith = 0, .bytes = count, .pending = false, .failAtWait = 0};
}
inline sim::Reply Pending(std::uint32_t failAtWait = 0) {
  return {.failWith = 0, .bytes = {}, .pending = true, .failAtWait = failAtWait};
}

// Console input events.
inline platform::InputEvent Key(wchar_t character, std::uint16_t vk = 0, bool down = true) {
  return {.kind = platform::InputEvent::Kind::Key,
          .keyDown = down,
          .virtualKey = vk,
          .character = character};
}
inline platform::InputEvent Other(platform::InputEvent::Kind kind) {
  return {.kind = kind, .keyDown = true, .virtualKey = 0, .character = 0};
}

inline const std::wstring kPath0 =
    L"\\\\?\\usb#vid_0c4b&pid_0500#0001#{c4414883-6b5b-44c2-b888-7d04fe8505d2}";
inline const std::wstring kPath1 =
    L"\\\\?\\usb#vid_0c4b&pid_0500#0002#{c4414883-6b5b-44c2-b888-7d04fe8505d2}";

struct Machine {
  sim::SimSystem system;
  sim::SimConsole console;
  platform::Platform os{system, system, console};

  // Runs the program with these arguments (the program's name comes first);
  // the console is written out when the run ends, as at process exit.
  int Run(std::initializer_list<std::wstring> args) {
    std::vector<std::wstring> all{L"drvflip.exe"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : all) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    console::Console out(console);
    return app::RunProgram(os, out, static_cast<int>(all.size()), argv.data());
  }
};

}  // namespace drvflip::testing

namespace drvflip::sim {

// How GoogleTest shows a request that differs.
inline void PrintTo(const Request& r, std::ostream* os) {
  *os << std::hex << "{0x" << r.code << std::dec << ", in " << r.inputSize << ", out "
      << r.outputSize << "}";
}

}  // namespace drvflip::sim
