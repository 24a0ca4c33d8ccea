// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The native console against a real pseudo-terminal: what a terminal
// delivers for one key press ends the key wait once and is consumed whole.
#include "platform/posix/posix_console.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"

namespace drvflip::testing {
namespace {

using platform::InputEvent;

class Pty : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::openpty(&master_, &slave_, name_, nullptr, nullptr), 0); }
  void TearDown() override {
    ::close(master_);
    ::close(slave_);
  }
  void Type(const std::string& bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What is left unread on the terminal, after raw mode.
  std::string Leftover() const {
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    std::string text;
    pollfd ready{slave_, POLLIN, 0};
    while (::poll(&ready, 1, 100) == 1) {
      char c = 0;
      if (::read(slave_, &c, 1) != 1) break;
      text += c;
    }
    return text;
  }
  int master_ = -1;
  int slave_ = -1;
  char name_[128] = {};  // NOLINT(*-avoid-c-arrays)
};

TEST_F(Pty, EachKeyPressIsOneEventAndIsReadWhole) {
  struct Case {
    const char* name;
    std::string typed;
    wchar_t character;
    std::uint16_t vk;
  };
  const std::vector<Case> cases = {
      {"letter", "a", L'a', 0},
      {"Ctrl+C arrives as a key", "\x03", 3, 0},
      {"Enter (the terminal turns CR into LF)", "\r", L'\n', 0},
      {"cursor up", "\x1b[A", 0, 0x26},
      {"cursor left, application mode", "\x1bOD", 0, 0x25},
      {"F1", "\x1bOP", 0, 0x70},
      {"F5", "\x1b[15~", 0, 0x74},
      {"F12", "\x1b[24~", 0, 0x7B},
      {"Delete", "\x1b[3~", 0, 0x2E},
      {"Page Down", "\x1b[6~", 0, 0x22},
      {"Shift+F3 with a modifier parameter", "\x1b[13;2~", 0, 0x72},
      {"Home with modifiers", "\x1b[1;5H", 0, 0x24},
      {"keypad 5 in application mode", "\x1bOu", 0, 0x65},
      {"Alt+x", "\x1bx", L'x', 0},
      {"e acute in UTF-8", "\xc3\xa9", static_cast<wchar_t>(0xE9), 0},
      {"CJK character in UTF-8", "\xe4\xb8\xad", static_cast<wchar_t>(0x4E2D), 0},
  };
  for (const Case& c : cases) {
    platform::PosixConsoleIo io(name_);
    const platform::InputHandle input = io.OpenInput();
    ASSERT_NE(input, platform::kNoInput);
    std::uint32_t mode = 0;
    ASSERT_TRUE(io.GetInputMode(input, &mode));
    ASSERT_TRUE(io.SetInputMode(input, 0));
    Type(c.typed + "z");
    InputEvent event;
    std::uint32_t count = 0;
    ASSERT_TRUE(io.ReadInput(input, &event, &count)) << c.name;
    EXPECT_EQ(count, 1U) << c.name;
    EXPECT_EQ(event.kind, InputEvent::Kind::Key) << c.name;
    EXPECT_TRUE(event.keyDown) << c.name;
    EXPECT_EQ(event.character, c.character) << c.name;
    EXPECT_EQ(event.virtualKey, c.vk) << c.name;
    EXPECT_TRUE(console::EndsKeyWait(event)) << c.name;
    // The next key is the 'z' typed after it: nothing of the sequence is left.
    ASSERT_TRUE(io.ReadInput(input, &event, &count)) << c.name;
    EXPECT_EQ(event.character, L'z') << c.name;
    io.SetInputMode(input, mode);
    io.CloseInput(input);
  }
}

TEST_F(Pty, EscapeAloneIsAKey) {
  platform::PosixConsoleIo io(name_);
  const platform::InputHandle input = io.OpenInput();
  std::uint32_t mode = 0;
  ASSERT_TRUE(io.GetInputMode(input, &mode));
  ASSERT_TRUE(io.SetInputMode(input, 0));
  Type("\x1b");
  InputEvent event;
  std::uint32_t count = 0;
  ASSERT_TRUE(io.ReadInput(input, &event, &count));
  EXPECT_EQ(event.character, 0x1B);
  io.SetInputMode(input, mode);
  io.CloseInput(input);
}

TEST_F(Pty, WaitKeyWaitsEndsOnceRestoresTheTerminalAndLeavesTheNextKey) {
  termios initial{};
  ASSERT_EQ(::tcgetattr(slave_, &initial), 0);
  ASSERT_NE(initial.c_lflag & ICANON, 0U);
  termios polling = initial;  // left non-canonical by another program, reads timing out
  polling.c_lflag &= ~static_cast<tcflag_t>(ICANON);
  polling.c_cc[VMIN] = 0;
  polling.c_cc[VTIME] = 5;
  termios raw = polling;  // already raw, reads returning at once
  ::cfmakeraw(&raw);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  for (const termios& before : {initial, polling, raw}) {
    ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &before), 0);
    std::atomic<bool> ended{false};
    std::thread wait([this, &ended] {
      platform::PosixConsoleIo io(name_);
      console::Console console(io);
      console.WaitKey();
      ended = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(ended) << "the wait goes on with nothing typed";
    Type("\x1b[21~q");  // F10, then q
    wait.join();
    termios after{};
    ASSERT_EQ(::tcgetattr(slave_, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
    EXPECT_EQ(Leftover(), "q");
  }
}

TEST(PosixConsole, NoTerminalMeansNoWait) {
  platform::PosixConsoleIo io("/nonexistent/tty");
  EXPECT_EQ(io.OpenInput(), platform::kNoInput);
  platform::PosixConsoleIo notATerminal("/dev/null");
  EXPECT_EQ(notATerminal.OpenInput(), platform::kNoInput);
  console::Console console(io);
  console.WaitKey();  // returns at once
}

}  // namespace
}  // namespace drvflip::testing
