// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// Console formatting, encoding and buffering over arbitrary formats and
// arguments: every wide character, huge lengths, missing newlines.
#include <cstdint>
#include <string>
#include <vector>

#include "console/console.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "platform/sim/sim_console.h"

namespace {

struct StringSink final : drvflip::console::ByteSink {
  std::string bytes;
  void Put(std::uint8_t byte) override { bytes.push_back(static_cast<char>(byte)); }
};

// Formats lean towards the conversions the program uses.
std::wstring Format(drvflip::fuzz::Input& in) {
  static const std::wstring kPieces[] = {L"%s", L"%d",      L"%u",        L"%zu", L"%08X",
                                         L"%",  L"%%",      L"\n",        L"0",   L"9",
                                         L"z",  L"ERROR: ", L"%99999999d"};
  std::wstring format;
  for (std::uint32_t n = in.Below(40); n > 0 && !in.Empty(); --n) {
    if (in.Flag()) {
      format += kPieces[in.Below(std::size(kPieces))];
    } else {
      const std::uint16_t c = in.Word16();
      format.push_back(static_cast<wchar_t>(c == 0 ? L'\n' : c));
    }
  }
  return format;
}

void CheckEncoding(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') FUZZ_CHECK(i > 0 && bytes[i - 1] == '\r');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  drvflip::fuzz::Input in(data, size);
  const std::wstring format = Format(in);
  std::vector<std::wstring> texts;
  std::vector<drvflip::console::FormatArg> args;
  texts.reserve(8);
  std::size_t textLength = 0;
  for (std::uint32_t n = in.Below(7); n > 0; --n) {
    switch (in.Below(4)) {
      case 0:
        texts.push_back(
            in.Flag() ? in.Text(300)
                      : std::wstring(in.Below(70000), static_cast<wchar_t>(in.Word16() | 1U)));
        textLength += texts.back().size();
        args.emplace_back(texts.back().c_str());
        break;
      case 1: args.emplace_back(static_cast<std::int32_t>(in.Word32())); break;
      case 2: args.emplace_back(in.Word32()); break;
      default: args.emplace_back(static_cast<std::size_t>(in.Word32()) << 32U | in.Word32()); break;
    }
  }

  StringSink sink;
  drvflip::console::Format(sink, format.c_str(), args);
  CheckEncoding(sink.bytes);
  // Each character becomes at most two bytes; a conversion at most its width.
  FUZZ_CHECK(sink.bytes.size() <= 2 * (format.size() + textLength) + 66 * format.size());

  // The same message through the Console, to a console or to a file, on both streams.
  drvflip::sim::SimConsole io;
  io.outIsConsole = in.Flag();
  io.errIsConsole = in.Flag();
  const int repeats = 1 + static_cast<int>(in.Below(3));
  {
    drvflip::console::Console console(io);
    for (int i = 0; i < repeats; ++i) {
      console.PrintArgs(drvflip::platform::Stream::Out, format.c_str(), args);
      console.PrintArgs(drvflip::platform::Stream::Err, format.c_str(), args);
    }
  }
  std::string expected;
  for (int i = 0; i < repeats; ++i) expected += sink.bytes;
  FUZZ_CHECK(io.out == expected);
  FUZZ_CHECK(io.err == expected);
  for (const std::size_t w : io.outWrites)
    FUZZ_CHECK(w > 0 && w <= drvflip::console::Console::kBufferSize);
  for (const std::size_t w : io.errWrites)
    FUZZ_CHECK(w > 0 && w <= drvflip::console::Console::kBufferSize);
  // Held until exit, standard output first, when neither stream filled its buffer.
  if (!io.outIsConsole && !io.errIsConsole &&
      io.out.size() <= drvflip::console::Console::kBufferSize &&
      io.err.size() <= drvflip::console::Console::kBufferSize) {
    FUZZ_CHECK(io.both == io.out + io.err);
  }
  return 0;
}
