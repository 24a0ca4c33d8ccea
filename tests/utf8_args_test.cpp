#include "app/utf8_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace drvflip::testing {
namespace {

TEST(Utf8Arguments, DecodesValidSequencesAndKeepsOtherBytes) {
  struct Case {
    std::string bytes;
    std::wstring text;
  };
  const std::vector<Case> cases = {
      {"pcsc", L"pcsc"},
      {"", L""},
      {"\xc3\xa9", std::wstring(1, static_cast<wchar_t>(0xE9))},
      {"\xe4\xb8\xad", std::wstring(1, static_cast<wchar_t>(0x4E2D))},
      {"\xf0\x9f\x98\x80", std::wstring(1, static_cast<wchar_t>(0x1F600))},
      {"\xe9t\xe9", L"\u00e9t\u00e9"},          // Latin-1 bytes stand for themselves
      {"\xc3", L"\u00c3"},                      // cut short
      {"\xc0\xaf", L"\u00c0\u00af"},            // overlong
      {"\xed\xa0\x80", L"\u00ed\u00a0\u0080"},  // a surrogate
      {"\xf4\x8f\xbf\xbf", std::wstring(1, static_cast<wchar_t>(0x10FFFF))},  // the last one
      {"\xf4\x90\x80\x80", L"\u00f4\u0090\u0080\u0080"},                      // past U+10FFFF
      {"a\xe4\xb8", L"a\u00e4\u00b8"},  // cut short at the end
  };
  for (const Case& c : cases) EXPECT_EQ(app::DecodeArgument(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace drvflip::testing
