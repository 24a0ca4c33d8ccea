// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The simulated console: records what is written to each stream, and serves
// console input events from a script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace drvflip::sim {

class SimConsole final : public platform::ConsoleIo {
 public:
  // Configuration.
  bool outIsConsole = false;
  bool errIsConsole = false;
  bool hasConsoleInput = false;              // OpenInput succeeds
  bool modeReadable = true;                  // GetInputMode succeeds
  std::uint32_t mode = 0x1F7;                // the console's input mode
  std::deque<platform::InputEvent> events;   // served one per read; none left: the read fails
  bool emptyReadAtEnd = false;               // when events run out, a read yields no event instead
  std::optional<std::uint32_t> session = 1;  // this process's session; empty: it cannot be learnt

  // What happened.
  std::string out;                     // bytes written to standard output
  std::string err;                     // bytes written to standard error
  std::string both;                    // both streams as one file receives them
  std::vector<std::size_t> outWrites;  // size of each write to standard output
  std::vector<std::size_t> errWrites;
  std::vector<std::uint32_t> modesSet;
  std::size_t reads = 0;
  int inputOpen = 0;             // input devices open now
  std::size_t waitsStarted = 0;  // OpenInput calls
  std::size_t sessionQueries = 0;

  bool IsConsole(platform::Stream stream) override {
    return stream == platform::Stream::Out ? outIsConsole : errIsConsole;
  }
  void Write(platform::Stream stream, const std::uint8_t* bytes, std::size_t count) override {
    const std::string text(reinterpret_cast<const char*>(bytes), count);  // NOLINT
    (stream == platform::Stream::Out ? out : err) += text;
    (stream == platform::Stream::Out ? outWrites : errWrites).push_back(count);
    both += text;
  }
  platform::InputHandle OpenInput() override {
    ++waitsStarted;
    if (!hasConsoleInput) return platform::kNoInput;
    ++inputOpen;
    return 3;
  }
  void CloseInput(platform::InputHandle /*input*/) override { --inputOpen; }
  bool GetInputMode(platform::InputHandle /*input*/, std::uint32_t* value) override {
    *value = mode;
    return modeReadable;
  }
  bool SetInputMode(platform::InputHandle /*input*/, std::uint32_t value) override {
    mode = value;
    modesSet.push_back(value);
    return true;
  }
  bool ReadInput(platform::InputHandle /*input*/, platform::InputEvent* event,
                 std::uint32_t* count) override {
    ++reads;
    *count = 0;
    if (events.empty()) return emptyReadAtEnd;
    *event = events.front();
    events.pop_front();
    *count = 1;
    return true;
  }
  bool GetSessionId(std::uint32_t* value) override {
    ++sessionQueries;
    *value = session.value_or(0xFFFFFFFFU);
    return session.has_value();
  }
};

}  // namespace drvflip::sim
