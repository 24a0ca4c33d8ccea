// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "console/console.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/sim/sim_console.h"

namespace drvflip::testing {
namespace {

using console::FormatArg;
using platform::InputEvent;
using platform::Stream;

struct StringSink final : console::ByteSink {
  std::string bytes;
  void Put(std::uint8_t byte) override { bytes.push_back(static_cast<char>(byte)); }
};

std::string Formatted(const wchar_t* format, std::vector<FormatArg> args) {
  StringSink sink;
  console::Format(sink, format, args);
  return sink.bytes;
}

struct FormatCase {
  const char* name;
  const wchar_t* format;
  std::vector<FormatArg> args;
  std::string expected;
};

TEST(ConsoleFormat, ConversionsAndEncoding) {
  const std::wstring wide =
      std::wstring(L"a") + wchar_t(0x100) + L"b" + wchar_t(0xFF) + wchar_t(0x7F);
  // U+1F600: a surrogate pair where wchar_t has 16 bits, one code point elsewhere.
  const std::wstring pair = L"<\U0001F600>";
  const std::vector<FormatCase> cases = {
      {"count line", L"%d device(s) found.\n", {3}, "3 device(s) found.\r\n"},
      {"negative count", L"%d device(s) found.\n", {-1}, "-1 device(s) found.\r\n"},
      {"int32 min", L"%d", {INT32_MIN}, "-2147483648"},
      {"%d of a word above 2^31 is negative", L"%d", {std::uint32_t{0x80000000U}}, "-2147483648"},
      {"unsigned", L"%u", {std::uint32_t{4294967295U}}, "4294967295"},
      {"size", L"%zu", {std::size_t{16}}, "16"},
      {"error code", L"0x%08X.", {std::uint32_t{0x7A}}, "0x0000007A."},
      {"error code all bits", L"0x%08X", {std::uint32_t{0xFFFFFFFFU}}, "0xFFFFFFFF"},
      {"setupapi code", L"0x%08X", {std::uint32_t{0xE000020BU}}, "0xE000020B"},
      {"zero", L"%d %u %08X", {0, 0U, 0U}, "0 0 00000000"},
      {"string", L"Open '%s'.\n", {L"\\\\?\\x"}, "Open '\\\\?\\x'.\r\n"},
      {"empty string", L"'%s'", {L""}, "''"},
      {"above 255 becomes ?", L"%s", {wide.c_str()}, "a?b\xFF\x7F"},
      {"a surrogate pair is two characters",
       L"%s",
       {pair.c_str()},
       "<?"
       "?>"},
      {"line feed inside an argument", L"[%s]", {L"a\nb"}, "[a\r\nb]"},
      {"tabs and blank lines", L"\n\n\ta\t\n", {}, "\r\n\r\n\ta\t\r\n"},
      {"no final newline", L"ERROR: Buffer to small.", {}, "ERROR: Buffer to small."},
      {"percent sign", L"100%%", {}, "100%"},
      {"conversion not used by the program stays", L"%x%", {1}, "%x%"},
      {"missing argument prints nothing", L"a%db", {}, "ab"},
      {"string for a number prints nothing", L"a%db", {L"x"}, "ab"},
      {"null string", L"%s", {static_cast<const wchar_t*>(nullptr)}, "(null)"},
      {"two conversions in order", L"%d.%d", {1, 2}, "1.2"},
      {"width with blanks", L"[%5d]", {-42}, "[  -42]"},
      {"zero padding with sign", L"[%05d]", {-42}, "[-0042]"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(Formatted(c.format, c.args), c.expected) << c.name;
  }
}

TEST(ConsoleFormat, HugeArgumentIsWrittenWhole) {
  const std::wstring arg(32000, L'x');
  const std::string out = Formatted(L"'%s'", {arg.c_str()});
  EXPECT_EQ(out, "'" + std::string(32000, 'x') + "'");
}

TEST(ConsoleFormat, EveryCharacterMapsToOneByteOrCrLf) {
  for (std::uint32_t c = 1; c < 0x11000; ++c) {
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) break;
    const std::wstring text(1, static_cast<wchar_t>(c));
    const std::string out = Formatted(L"%s", {text.c_str()});
    if (c == '\n') {
      ASSERT_EQ(out, "\r\n");
    } else if (c < 256) {
      ASSERT_EQ(out, std::string(1, static_cast<char>(c))) << c;
    } else if (c > 0xFFFF) {
      ASSERT_EQ(out, "??") << c;  // two wide characters on Windows
    } else {
      ASSERT_EQ(out, "?") << c;
    }
  }
}

TEST(ConsoleOutput, RedirectedStreamsAreWrittenAtExitOutputFirst) {
  sim::SimConsole io;
  {
    console::Console console(io);
    console.Print(Stream::Err, L"ERROR: Unknown command '%s'.\n", L"x");
    console.Print(Stream::Out, L"USAGE\n");
    EXPECT_EQ(io.both, "") << "nothing is written before exit";
  }
  EXPECT_EQ(io.out, "USAGE\r\n");
  EXPECT_EQ(io.err, "ERROR: Unknown command 'x'.\r\n");
  EXPECT_EQ(io.both, "USAGE\r\nERROR: Unknown command 'x'.\r\n");
}

TEST(ConsoleOutput, ConsoleStreamsAreWrittenPerMessage) {
  sim::SimConsole io;
  io.outIsConsole = true;
  io.errIsConsole = true;
  console::Console console(io);
  console.Print(Stream::Err, L"first");
  EXPECT_EQ(io.err, "first");
  console.Print(Stream::Out, L" second\n");
  EXPECT_EQ(io.both, "first second\r\n");
}

TEST(ConsoleOutput, FullBufferIsWrittenIn4096ByteBlocks) {
  sim::SimConsole io;
  {
    console::Console console(io);
    const std::wstring big(5000, L'y');
    console.Print(Stream::Out, L"%s", big.c_str());
    ASSERT_EQ(io.outWrites, std::vector<std::size_t>{4096});
    console.Print(Stream::Err, L"e");
  }
  EXPECT_EQ(io.outWrites, (std::vector<std::size_t>{4096, 904}));
  EXPECT_EQ(io.out, std::string(5000, 'y'));
  // Standard output had filled a block before standard error was written.
  EXPECT_EQ(io.both, std::string(5000, 'y') + "e");
}

TEST(KeyWait, WhichEventsEndTheWait) {
  struct Case {
    const char* name;
    InputEvent event;
    bool ends;
  };
  const std::vector<Case> cases = {
      {"letter", Key(L'a', 0x41), true},
      {"Enter", Key(L'\r', 0x0D), true},
      {"Ctrl+C", Key(3, 0x43), true},
      {"Escape", Key(0x1B, 0x1B), true},
      {"Space", Key(L' ', 0x20), true},
      {"F1", Key(0, 0x70), true},
      {"F12", Key(0, 0x7B), true},
      {"F24", Key(0, 0x87), true},
      {"cursor left", Key(0, 0x25), true},
      {"cursor down", Key(0, 0x28), true},
      {"Insert", Key(0, 0x2D), true},
      {"Delete", Key(0, 0x2E), true},
      {"Home", Key(0, 0x24), true},
      {"End", Key(0, 0x23), true},
      {"Page Up", Key(0, 0x21), true},
      {"Page Down", Key(0, 0x22), true},
      {"keypad 5 without Num Lock", Key(0, 0x0C), true},
      {"keypad 0", Key(0, 0x60), true},
      {"keypad divide", Key(0, 0x6F), true},
      {"Shift", Key(0, 0x10), false},
      {"Ctrl", Key(0, 0x11), false},
      {"Alt", Key(0, 0x12), false},
      {"Caps Lock", Key(0, 0x14), false},
      {"Num Lock", Key(0, 0x90), false},
      {"Scroll Lock", Key(0, 0x91), false},
      {"left Windows key", Key(0, 0x5B), false},
      {"release of a letter", Key(L'a', 0x41, false), false},
      {"release of F1", Key(0, 0x70, false), false},
      {"mouse", Other(InputEvent::Kind::Mouse), false},
      {"focus", Other(InputEvent::Kind::Focus), false},
      {"window size", Other(InputEvent::Kind::WindowSize), false},
      {"menu", Other(InputEvent::Kind::Menu), false},
  };
  for (const Case& c : cases) EXPECT_EQ(console::EndsKeyWait(c.event), c.ends) << c.name;
}

TEST(KeyWait, SkipsUntilAKeyAndRestoresTheMode) {
  struct Case {
    const char* name;
    std::uint32_t saved;
    std::uint32_t raw;
  };
  const std::vector<Case> cases = {
      {"no echo, no line editing, Ctrl+C as a key", 0x1F7, 0x1F0},
      {"virtual-terminal input off too", 0x3F7, 0x1F0},
      {"nothing else is turned on", 0x200, 0x000},
  };
  for (const Case& c : cases) {
    sim::SimConsole io;
    io.hasConsoleInput = true;
    io.mode = c.saved;
    io.events = {Other(InputEvent::Kind::Focus), Key(0, 0x10), Key(L'a', 0x41, false),
                 Other(InputEvent::Kind::Mouse), Key(3, 0x43), Key(L'z', 0x5A)};
    console::Console console(io);
    console.WaitKey();
    EXPECT_EQ(io.reads, 5U) << "Ctrl+C ends the wait; the key after it stays unread";
    EXPECT_EQ(io.modesSet, (std::vector<std::uint32_t>{c.raw, c.saved})) << c.name;
    EXPECT_EQ(io.inputOpen, 0);
  }
}

TEST(KeyWait, EndsAtOnceWithoutConsoleOrOnAFailedOrEmptyRead) {
  {
    sim::SimConsole io;  // no console input device
    console::Console console(io);
    console.WaitKey();
    EXPECT_EQ(io.reads, 0U);
    EXPECT_TRUE(io.modesSet.empty());
  }
  for (const bool emptyRead : {false, true}) {
    sim::SimConsole io;
    io.hasConsoleInput = true;
    io.emptyReadAtEnd = emptyRead;
    io.events = {Key(0, 0x10)};
    console::Console console(io);
    console.WaitKey();
    EXPECT_EQ(io.reads, 2U);
    EXPECT_EQ(io.mode, 0x1F7U);
    EXPECT_EQ(io.inputOpen, 0);
  }
}

TEST(KeyWait, AModeThatCannotBeReadIsLeftAlone) {
  sim::SimConsole io;
  io.hasConsoleInput = true;
  io.modeReadable = false;
  io.events = {Key(L'q', 0x51)};
  console::Console console(io);
  console.WaitKey();
  EXPECT_EQ(io.reads, 1U);
  EXPECT_TRUE(io.modesSet.empty());
  EXPECT_EQ(io.inputOpen, 0);
}

}  // namespace
}  // namespace drvflip::testing
