// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The whole switch run over arbitrary simulated platform behaviour: each
// call's result and error code, sizes and paths, and the switch driver's
// replies and byte counts, all chosen by the fuzzer.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_system.h"

namespace {

using drvflip::sim::Call;

constexpr std::uint32_t kInfo = 0x80912248U;
constexpr std::uint32_t kSet = 0x8091224CU;
constexpr std::uint32_t kActive = 0x80912250U;

std::uint32_t ErrorCode(drvflip::fuzz::Input& in) {
  static constexpr std::array<std::uint32_t, 10> kCodes = {1, 2, 5, 6, 8, 31, 50, 87, 122, 259};
  const std::uint32_t code = in.Flag() ? kCodes.at(in.Below(kCodes.size())) : (in.Word32() | 1U);
  // A failure with ERROR_IO_PENDING (997) means a request was queued, which a
  // pending reply models; as a plain failure it is a state Windows never gives.
  constexpr std::uint32_t kErrorIoPending = 997;
  return code == kErrorIoPending ? code + 2 : code;
}

std::wstring Path(drvflip::fuzz::Input& in) {
  switch (in.Below(4)) {
    case 0: return L"\\\\?\\root#sim#000" + in.Text(4);
    case 1: return std::wstring(in.Below(1100), L'p');
    case 2: return in.Text(600);
    default: return std::wstring(505 + in.Below(10), static_cast<wchar_t>(in.Word16() | 1U));
  }
}

void Configure(drvflip::fuzz::Input& in, drvflip::sim::SimSystem& system) {
  for (std::uint32_t n = in.Below(4); n > 0; --n) {
    drvflip::sim::Reader& reader = system.AddReader(Path(in));
    reader.hasInterface = in.Byte() % 8 != 0;
    if (in.Byte() % 4 == 0) reader.leavesAtSnapshot = static_cast<int>(in.Below(4));
    if (in.Byte() % 4 == 0) {
      static constexpr std::array<std::uint32_t, 6> kSizes = {0, 1, 7, 8, 0xFFFFFFFFU, 1U << 20U};
      reader.requiredSize = in.Flag() ? kSizes.at(in.Below(kSizes.size())) : in.Below(5000);
    }
    reader.sizeQuerySucceeds = in.Byte() % 8 == 0;
    reader.terminatePath = in.Byte() % 8 != 0;
    drvflip::sim::SwitchDriver& driver = reader.driver;
    driver.apiVersion = in.Flag() ? (0x00010000U | in.Word16()) : in.Word32();
    driver.fileVersion = in.Word32();
    driver.buildNumber = in.Word32();
    if (in.Byte() % 4 == 0) driver.reportedType = in.Below(4);
    for (const std::uint32_t code : {kInfo, kSet, kActive}) {
      if (in.Byte() % 3 != 0) continue;
      drvflip::sim::Reply reply;
      if (in.Byte() % 3 == 0) reply.failWith = ErrorCode(in);
      if (in.Byte() % 3 == 0) {
        static constexpr std::array<std::uint32_t, 7> kCounts = {0, 2, 4, 12, 16, 20, 0xFFFFFFFFU};
        reply.bytes = in.Flag() ? kCounts.at(in.Below(kCounts.size())) : in.Word32();
      }
      reply.pending = in.Flag();
      if (reply.pending && in.Byte() % 3 == 0) reply.failAtWait = ErrorCode(in);
      driver.replies[code] = reply;
    }
  }
  for (std::uint32_t n = in.Below(4); n > 0; --n) {
    const auto call = static_cast<Call>(in.Below(static_cast<std::uint32_t>(Call::Free) + 1));
    system.FailCall(call, ErrorCode(in), static_cast<int>(in.Below(4)));
  }
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  drvflip::fuzz::Input in(data, size);
  drvflip::sim::SimSystem system;
  drvflip::sim::SimConsole console;
  console.outIsConsole = in.Flag();
  console.errIsConsole = in.Flag();
  Configure(in, system);
  const wchar_t* word = in.Flag() ? L"pcsc" : L"Tavi";
  // Read last, so that an input that ends before it switches.
  const bool query = in.Byte() % 3 == 2;
  const wchar_t* argv[] = {L"drvflip.exe", query ? L"Query" : word, nullptr};  // NOLINT

  drvflip::platform::Platform os{system, system, console};
  int status = -1;
  {
    drvflip::console::Console out(console);
    status = drvflip::app::RunProgram(os, out, 2, argv);
  }

  FUZZ_CHECK(status == 0 || status == 1 || (query && status == 2));
  FUZZ_CHECK(system.Problems().empty());
  FUZZ_CHECK(system.OpenCount() == 0);
  FUZZ_CHECK(system.FilesOpened().size() <= 1);
  FUZZ_CHECK(console.waitsStarted == 0);

  const std::vector<std::uint32_t> codes = system.CodesSent();
  const auto sets = std::count(codes.begin(), codes.end(), kSet);
  FUZZ_CHECK(sets <= 1);
  if (query) {
    // A query never changes the driver: it asks for the versions and the type, in that order.
    const std::vector<std::uint32_t> road = {kInfo, kActive};
    FUZZ_CHECK(codes.size() <= road.size() && std::equal(codes.begin(), codes.end(), road.begin()));
    FUZZ_CHECK((status == 0) == Contains(console.out, "Currently activated"));
    if (status == 2)
      FUZZ_CHECK(system.FilesOpened().empty() && !Contains(console.err, "CountReaders"));
    return 0;
  }
  const std::vector<std::uint32_t> road = {kInfo, kSet, kActive};
  FUZZ_CHECK(codes.size() <= road.size() && std::equal(codes.begin(), codes.end(), road.begin()));
  if (sets == 1) {
    // Set only after a whole information record with API major version 1.
    FUZZ_CHECK(Contains(console.out, "\r\n\r\nDriver API version: 1."));
    FUZZ_CHECK(!Contains(console.err, "not supported"));
    FUZZ_CHECK(!Contains(console.err, "GetDriverInfo:"));
  }
  if (Contains(console.err, "not supported")) FUZZ_CHECK(sets == 0);
  if (status == 1) FUZZ_CHECK(!Contains(console.out, "Currently activated"));
  if (Contains(console.out, "Currently activated")) FUZZ_CHECK(status == 0 && sets == 1);
  return 0;
}
