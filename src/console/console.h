// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// Console: the program's one way of talking to the user.
//
// Print formats printf-style wide-character text with the conversions %s, %d,
// %u, %zu and %08X, and writes it as single-byte text: a character below 256
// becomes the byte of the same value, any other becomes '?', and a line feed
// becomes CR LF. A console stream is written at the end of each message; a
// file or pipe is held in a 4096-byte buffer per stream, written out when full
// and when the Console ends (standard output first, then standard error).
//
// WaitKey waits for one key press at the console input device.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "platform/platform.h"

namespace drvflip::console {

using platform::Stream;

// One argument of a Print. Strings and integers are held as they came; the
// conversion in the format decides how an integer is read (%d: signed 32-bit,
// %u and %08X: unsigned 32-bit, %zu: size).
class FormatArg {
 public:
  // cppcheck-suppress noExplicitConstructor
  FormatArg(const wchar_t* text) : text_(text), isText_(true) {}  // NOLINT(*-explicit-*)
  template <std::integral T>
  // cppcheck-suppress noExplicitConstructor
  FormatArg(T value)  // NOLINT(*-explicit-*)
      : value_(static_cast<std::uint64_t>(
            static_cast<std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>>(
                value))) {}

  [[nodiscard]] bool IsText() const { return isText_; }
  [[nodiscard]] const wchar_t* Text() const { return text_; }
  [[nodiscard]] std::uint64_t Value() const { return value_; }

 private:
  const wchar_t* text_ = nullptr;
  std::uint64_t value_ = 0;
  bool isText_ = false;
};

// Receives the bytes of a formatted message.
class ByteSink {
 public:
  ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;
  ByteSink(ByteSink&&) = delete;
  ByteSink& operator=(ByteSink&&) = delete;
  virtual void Put(std::uint8_t byte) = 0;

 protected:
  ~ByteSink() = default;
};

// Formats a message into single-byte text (line feeds as CR LF). A conversion
// without an argument, or of the wrong kind, prints nothing.
void Format(ByteSink& sink, const wchar_t* format, std::span<const FormatArg> args);

// True when a console input event ends the key wait: a key press that yields a
// character (Ctrl+C too), or a function, cursor, editing or keypad key.
bool EndsKeyWait(const platform::InputEvent& event);

class Console {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit Console(platform::ConsoleIo& io);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  Console(Console&&) = delete;
  Console& operator=(Console&&) = delete;
  // Writes out what is still held: standard output, then standard error.
  ~Console();

  template <class... Args>
  void Print(Stream stream, const wchar_t* format, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    PrintArgs(stream, format, list);
  }
  void PrintArgs(Stream stream, const wchar_t* format, std::span<const FormatArg> args);

  // Blocks until one key is pressed at the console; returns at once when
  // there is no console input device, or in session 0, where no one can be
  // at the console.
  void WaitKey();

 private:
  class StreamBuffer final : public ByteSink {
   public:
    StreamBuffer(platform::ConsoleIo& io, Stream stream);
    void Put(std::uint8_t byte) override;
    void WriteOut();
    [[nodiscard]] bool IsConsole() const { return console_; }

   private:
    platform::ConsoleIo& io_;
    Stream stream_;
    bool console_;
    std::size_t used_ = 0;
    std::array<std::uint8_t, kBufferSize> bytes_{};
  };

  platform::ConsoleIo& io_;
  StreamBuffer out_;
  StreamBuffer err_;
};

}  // namespace drvflip::console
