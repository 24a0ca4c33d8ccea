// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "console/console.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "platform/platform.h"

namespace drvflip::console {
namespace {

using platform::InputEvent;

// A character's code, whatever the signedness of wchar_t.
constexpr std::uint32_t CodeOf(wchar_t c) {
  return static_cast<std::make_unsigned_t<wchar_t>>(c);
}

// Writes one character of text: below 256 as its own byte, a line feed as
// CR LF, anything else as '?'.
void PutChar(ByteSink& sink, std::uint32_t c) {
  if (c == L'\n') {
    sink.Put('\r');
    sink.Put('\n');
  } else if (c < 256U) {
    sink.Put(static_cast<std::uint8_t>(c));
  } else {
    sink.Put('?');
  }
}

// Writes a string. A character outside the BMP is two wide characters (a
// surrogate pair) on Windows, so two '?'; where a wide character holds a whole
// code point it is written as two '?' too, so that both builds print alike.
void PutText(ByteSink& sink, const wchar_t* text) {
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    const std::uint32_t c = CodeOf(*p);
    if (c > 0xFFFFU) PutChar(sink, c);
    PutChar(sink, c);
  }
}

// Writes a number in base 10 or 16 (upper case), padded on the left to
// width with zeros or blanks.
void PutNumber(ByteSink& sink, std::uint64_t magnitude, bool negative, unsigned base,
               unsigned width, bool zeroPad) {
  std::array<std::uint8_t, 24> digits{};
  std::size_t n = 0;
  do {
    const auto d = static_cast<unsigned>(magnitude % base);
    digits[n++] = static_cast<std::uint8_t>(d < 10 ? '0' + d : 'A' + (d - 10));
    magnitude /= base;
  } while (magnitude != 0);
  std::size_t length = n + (negative ? 1 : 0);
  if (!zeroPad) {
    for (; length < width; ++length) sink.Put(' ');
  }
  if (negative) sink.Put('-');
  if (zeroPad) {
    for (; length < width; ++length) sink.Put('0');
  }
  while (n > 0) sink.Put(digits[--n]);
}

void PutConversion(ByteSink& sink, wchar_t conversion, bool sizeArg, unsigned width, bool zeroPad,
                   const FormatArg& arg) {
  if (conversion == L's') {
    if (arg.IsText()) PutText(sink, arg.Text() != nullptr ? arg.Text() : L"(null)");
    return;
  }
  if (arg.IsText()) return;
  const auto word = static_cast<std::uint32_t>(arg.Value());
  if (conversion == L'd') {
    // The word read as a signed 32-bit integer: the top bit is the sign.
    const bool negative = (word & 0x80000000U) != 0;
    const std::uint32_t magnitude = negative ? 0U - word : word;
    PutNumber(sink, magnitude, negative, 10, width, zeroPad);
  } else if (conversion == L'u') {
    PutNumber(sink, sizeArg ? static_cast<std::size_t>(arg.Value()) : word, false, 10, width,
              zeroPad);
  } else {  // 'X'
    PutNumber(sink, word, false, 16, width, zeroPad);
  }
}

constexpr unsigned kMaxWidth = 64;

// Keys without a character that end the key wait, as virtual-key ranges.
struct KeyRange {
  std::uint16_t first;
  std::uint16_t last;
};
constexpr std::array<KeyRange, 5> kEndingKeys{{
    {.first = 0x0C, .last = 0x0C},  // Clear: keypad 5 without Num Lock
    {.first = 0x21, .last = 0x28},  // Page Up, Page Down, End, Home and the four arrows
    {.first = 0x2D, .last = 0x2E},  // Insert, Delete
    {.first = 0x60, .last = 0x6F},  // keypad digits and operators
    {.first = 0x70, .last = 0x87},  // F1 to F24
}};

}  // namespace

void Format(ByteSink& sink, const wchar_t* format, std::span<const FormatArg> args) {
  std::size_t next = 0;
  const wchar_t* p = format;
  while (*p != L'\0') {
    if (*p != L'%') {
      PutChar(sink, CodeOf(*p++));
      continue;
    }
    const wchar_t* start = p++;
    if (*p == L'%') {
      sink.Put('%');
      ++p;
      continue;
    }
    const bool zeroPad = *p == L'0';
    if (zeroPad) ++p;
    unsigned width = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
      width = width * 10 + static_cast<unsigned>(*p - L'0');
      if (width > kMaxWidth) width = kMaxWidth;
    }
    const bool sizeArg = *p == L'z';
    if (sizeArg) ++p;
    const wchar_t conversion = *p;
    if (conversion == L's' || conversion == L'd' || conversion == L'u' || conversion == L'X') {
      ++p;
      if (next < args.size()) PutConversion(sink, conversion, sizeArg, width, zeroPad, args[next]);
      ++next;
      continue;
    }
    // Not a conversion this program uses: the text stands as written.
    for (; start != p; ++start) PutChar(sink, CodeOf(*start));
  }
}

bool EndsKeyWait(const InputEvent& event) {
  if (event.kind != InputEvent::Kind::Key || !event.keyDown) return false;
  if (event.character != L'\0') return true;
  const std::uint16_t vk = event.virtualKey;
  return std::any_of(kEndingKeys.begin(), kEndingKeys.end(),
                     [vk](const KeyRange& range) { return vk >= range.first && vk <= range.last; });
}

Console::StreamBuffer::StreamBuffer(platform::ConsoleIo& io, Stream stream)
    : io_(io), stream_(stream), console_(io.IsConsole(stream)) {}

void Console::StreamBuffer::Put(std::uint8_t byte) {
  if (used_ == bytes_.size()) WriteOut();
  bytes_[used_++] = byte;
}

void Console::StreamBuffer::WriteOut() {
  if (used_ == 0) return;
  io_.Write(stream_, bytes_.data(), used_);
  used_ = 0;
}

Console::Console(platform::ConsoleIo& io) : io_(io), out_(io, Stream::Out), err_(io, Stream::Err) {}

Console::~Console() {
  out_.WriteOut();
  err_.WriteOut();
}

void Console::PrintArgs(Stream stream, const wchar_t* format, std::span<const FormatArg> args) {
  StreamBuffer& buffer = stream == Stream::Out ? out_ : err_;
  Format(buffer, format, args);
  if (buffer.IsConsole()) buffer.WriteOut();
}

namespace {

// Owns the console input device for the key wait.
class InputOwner {
 public:
  InputOwner(platform::ConsoleIo& io, platform::InputHandle input) : io_(io), input_(input) {}
  InputOwner(const InputOwner&) = delete;
  InputOwner& operator=(const InputOwner&) = delete;
  InputOwner(InputOwner&&) = delete;
  InputOwner& operator=(InputOwner&&) = delete;
  ~InputOwner() { io_.CloseInput(input_); }

 private:
  platform::ConsoleIo& io_;
  platform::InputHandle input_;
};

// Puts the console input into raw mode (no echo, no line editing, Ctrl+C as
// a key) and restores the saved mode when it ends. Virtual-terminal input is
// off too: with it an arrow key arrives as several key records, the first
// would end the wait and the rest would be left for the shell as typed text.
class RawMode {
 public:
  RawMode(platform::ConsoleIo& io, platform::InputHandle input)
      : io_(io), input_(input), saved_ok_(io.GetInputMode(input, &saved_)) {
    if (saved_ok_) {
      constexpr std::uint32_t kCooked = platform::kModeProcessedInput | platform::kModeLineInput |
                                        platform::kModeEchoInput |
                                        platform::kModeVirtualTerminalInput;
      io_.SetInputMode(input_, saved_ & ~kCooked);
    }
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
  RawMode(RawMode&&) = delete;
  RawMode& operator=(RawMode&&) = delete;
  ~RawMode() {
    if (saved_ok_) io_.SetInputMode(input_, saved_);
  }

 private:
  platform::ConsoleIo& io_;
  platform::InputHandle input_;
  std::uint32_t saved_ = 0;
  bool saved_ok_ = false;
};

}  // namespace

void Console::WaitKey() {
  // In session 0 (services, and what they start) a console, if there is one,
  // has nobody at it: no key can ever come.
  std::uint32_t session = 0;
  if (io_.GetSessionId(&session) && session == 0) return;
  const platform::InputHandle input = io_.OpenInput();
  if (input == platform::kNoInput) return;
  const InputOwner owner(io_, input);
  const RawMode raw(io_, input);
  for (;;) {
    InputEvent event;
    std::uint32_t count = 0;
    if (!io_.ReadInput(input, &event, &count) || count == 0) return;
    if (EndsKeyWait(event)) return;
  }
}

}  // namespace drvflip::console
