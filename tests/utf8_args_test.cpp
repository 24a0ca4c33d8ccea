// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "app/utf8_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace drvflip::testing {
namespace {

// Each rule of the decoder: a valid sequence becomes its character; any byte
// that does not begin one stands for itself, and decoding goes on at the next.
TEST(Utf8Arguments, DecodesValidSequencesAndKeepsOtherBytes) {
  struct Case {
    const char* rule;
    std::string bytes;
    std::u32string text;
  };
  const std::vector<Case> cases = {
      {"ASCII", "pcsc", U"pcsc"},
      {"empty", "", U""},
      {"two bytes, lowest lead", "\xc2\x80", U"\u0080"},
      {"two bytes, highest lead", "\xdf\xbf", U"\u07ff"},
      {"three bytes, lowest lead", "\xe0\xa0\x80", U"\u0800"},
      {"three bytes, highest lead", "\xef\xbf\xbf", U"\uffff"},
      {"four bytes, lowest lead", "\xf0\x90\x80\x80", U"\U00010000"},
      {"four bytes, highest lead: the last code point", "\xf4\x8f\xbf\xbf", U"\U0010ffff"},
      {"the first past the last", "\xf4\x90\x80\x80", U"\u00f4\u0090\u0080\u0080"},
      {"lead above the range", "\xf5\x80\x80\x80", U"\u00f5\u0080\u0080\u0080"},
      {"0xFF", "\xff", U"\u00ff"},
      {"overlong of two bytes (C0, C1 are no leads)", "\xc0\xaf\xc1\xbf",
       U"\u00c0\u00af\u00c1\u00bf"},
      {"overlong of three bytes", "\xe0\x80\xaf", U"\u00e0\u0080\u00af"},
      {"overlong of four bytes", "\xf0\x80\x80\xaf", U"\u00f0\u0080\u0080\u00af"},
      {"first surrogate half", "\xed\xa0\x80", U"\u00ed\u00a0\u0080"},
      {"last surrogate half", "\xed\xbf\xbf", U"\u00ed\u00bf\u00bf"},
      {"just below the surrogates", "\xed\x9f\xbf", U"\ud7ff"},
      {"a continuation byte alone", "\x80x", U"\u0080x"},
      {"cut short by the end: two bytes", "a\xc3", U"a\u00c3"},
      {"cut short by the end: three bytes", "a\xe4\xb8", U"a\u00e4\u00b8"},
      {"cut short by the end: four bytes", "a\xf0\x9f\x98", U"a\u00f0\u009f\u0098"},
      {"cut short by another byte", "\xe4x\xb8\xad", U"\u00e4x\u00b8\u00ad"},
      {"Latin-1 bytes stand for themselves between valid ones", "\xe9t\xc3\xa9", U"\u00e9t\u00e9"},
  };
  for (const Case& c : cases) {
    const std::wstring want(c.text.begin(), c.text.end());
    EXPECT_EQ(app::DecodeArgument(c.bytes), want) << c.rule;
  }
}

}  // namespace
}  // namespace drvflip::testing
