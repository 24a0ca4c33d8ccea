// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "reader/reader_discovery.h"

namespace drvflip::testing {
namespace {

using reader::CountReaders;
using reader::GetInterfacePath;
using reader::PathBuffer;
using sim::Call;

bool AllZero(const PathBuffer& path) {
  return std::all_of(path.begin(), path.end(), [](wchar_t c) { return c == L'\0'; });
}

TEST(CountReaders, CountsThePresentReadersAndReleasesTheSnapshot) {
  for (const int readers : {0, 1, 3}) {
    Machine m;
    for (int i = 0; i < readers; ++i) m.system.AddReader(kPath0 + std::to_wstring(i));
    EXPECT_EQ(CountReaders(m.system), readers);
    EXPECT_EQ(m.system.CountCalls(Call::GetClassDevs), 1U);
    EXPECT_EQ(m.system.CountCalls(Call::EnumDeviceInfo), static_cast<std::size_t>(readers) + 1);
    EXPECT_EQ(m.system.Problems(), "");
  }
}

TEST(CountReaders, NoSnapshotGivesMinusOneAndPrintsNothing) {
  Machine m;
  m.system.AddReader(kPath0);
  m.system.FailCall(Call::GetClassDevs, 5);
  EXPECT_EQ(CountReaders(m.system), -1);
  EXPECT_EQ(m.system.CountCalls(Call::DestroyDeviceInfoList), 0U);
  EXPECT_EQ(m.system.Problems(), "");
}

TEST(CountReaders, AFailedRecordEndsTheCount) {
  Machine m;
  m.system.AddReader(kPath0);
  m.system.AddReader(kPath1);
  m.system.FailCall(Call::EnumDeviceInfo, 0xE000020BU, 2);
  EXPECT_EQ(CountReaders(m.system), 1);
  EXPECT_EQ(m.system.Problems(), "");
}

struct LookupCase {
  const char* name;
  std::function<void(sim::SimSystem&)> setup;
  std::int32_t index;
  bool found;
  std::wstring path;  // when found
  std::string err;
};

constexpr auto kFixed = platform::kDetailFixedSize;

TEST(GetInterfacePath, EveryOutcome) {
  const std::wstring p511(511, L'a');
  const std::wstring p512(512, L'b');
  const std::wstring p65535(65535, L'c');
  const auto one = [](sim::SimSystem& s) { s.AddReader(kPath0); };
  const auto withReader = [](std::function<void(sim::Reader&)> f) {
    return [f](sim::SimSystem& s) { f(s.AddReader(kPath0)); };
  };
  const auto failing = [](Call call, std::uint32_t error, int occurrence = 1) {
    return [=](sim::SimSystem& s) {
      s.AddReader(kPath0);
      s.FailCall(call, error, occurrence);
    };
  };
  const auto fetchError = [](const char* code) {
    return std::string(
               "ERROR: SetupDiGetDeviceInterfaceDetail failed to get detailed interface data with "
               "error ") +
           code;
  };
  const std::vector<LookupCase> cases = {
      {"one reader", one, 0, true, kPath0, ""},
      {"no reader at index 0", [](sim::SimSystem&) {}, 0, false, L"",
       "ERROR: No reader found!\r\n"},
      {"list ends before index 1: no message", one, 1, false, L"", ""},
      {"negative index: past the list, no message", one, -1, false, L"", ""},
      {"second reader",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.AddReader(kPath1);
       },
       1, true, kPath1, ""},
      {"snapshot refused", failing(Call::GetClassDevs, 0xE000021CU), 0, false, L"",
       "ERROR: SetupDiGetClassDevs failed with error 0xE000021C"},
      {"device record refused", failing(Call::EnumDeviceInfo, 0x1F), 0, false, L"",
       "ERROR: SetupDiEnumDeviceInfo failed for device index 0 with error 0x0000001F"},
      {"device record refused at index 1",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.AddReader(kPath1);
         s.FailCall(Call::EnumDeviceInfo, 0xE000020BU);
       },
       1, false, L"",
       "ERROR: SetupDiEnumDeviceInfo failed for device index 1 with error 0xE000020B"},
      {"no reader interface", withReader([](sim::Reader& r) { r.hasInterface = false; }), 0, false,
       L"", "ERROR: Device doesn't export the specified interface"},
      {"interface record refused", failing(Call::EnumDeviceInterfaces, 0xE000020BU), 0, false, L"",
       "ERROR: SetupDiEnumDeviceInterfaces failed with error 0xE000020B"},
      {"size query refused", failing(Call::GetDeviceInterfaceDetail, 5), 0, false, L"",
       "ERROR: SetupDiGetDeviceInterfaceDetail failed to determine required buffer size with error "
       "0x00000005"},
      {"size query succeeds", withReader([](sim::Reader& r) { r.sizeQuerySucceeds = true; }), 0,
       true, kPath0, ""},
      {"no memory", failing(Call::Allocate, 8), 0, false, L"", "ERROR: Memory allocation failed."},
      {"detail refused", failing(Call::GetDeviceInterfaceDetail, 0x57, 2), 0, false, L"",
       fetchError("0x00000057")},
      {"path of 511 characters", [&](sim::SimSystem& s) { s.AddReader(p511); }, 0, true, p511, ""},
      {"path of 512 characters", [&](sim::SimSystem& s) { s.AddReader(p512); }, 0, false, L"",
       "ERROR: Buffer to small."},
      {"path of 65535 characters", [&](sim::SimSystem& s) { s.AddReader(p65535); }, 0, false, L"",
       "ERROR: Buffer to small."},
      {"empty path", [](sim::SimSystem& s) { s.AddReader(L""); }, 0, true, L"", ""},
      {"unterminated path of 511",
       [&](sim::SimSystem& s) { s.AddReader(p511).terminatePath = false; }, 0, true, p511, ""},
      {"unterminated path of 512",
       [&](sim::SimSystem& s) { s.AddReader(p512).terminatePath = false; }, 0, false, L"",
       "ERROR: Buffer to small."},
      {"required size larger than needed",
       withReader([](sim::Reader& r) { r.requiredSize = 4000; }), 0, true, kPath0, ""},
      {"unterminated path in a larger, zero-filled buffer", withReader([](sim::Reader& r) {
         r.requiredSize = 4000;
         r.terminatePath = false;
       }),
       0, true, kPath0, ""},
      {"required size at the 1 MiB limit",
       withReader([](sim::Reader& r) { r.requiredSize = 1048576; }), 0, true, kPath0, ""},
  };
  for (const LookupCase& c : cases) {
    Machine m;
    c.setup(m.system);
    PathBuffer path;
    path.fill(L'#');
    bool found = false;
    {
      console::Console out(m.console);
      found = GetInterfacePath(m.os, out, &path, c.index);
    }
    EXPECT_EQ(found, c.found) << c.name;
    EXPECT_EQ(m.console.err, c.err) << c.name;
    EXPECT_EQ(m.console.out, "") << c.name;
    if (c.found) {
      EXPECT_EQ(std::wstring(path.data()), c.path) << c.name;
      EXPECT_TRUE(std::all_of(path.begin() + static_cast<std::ptrdiff_t>(c.path.size()), path.end(),
                              [](wchar_t ch) { return ch == L'\0'; }))
          << c.name << ": the rest of the buffer is zero";
    } else {
      EXPECT_TRUE(AllZero(path)) << c.name;
    }
    EXPECT_EQ(m.system.Problems(), "") << c.name;
  }
}

TEST(GetInterfacePath, DetailSizesTooSmallForTheRecordNeverOverrun) {
  // Whatever size the platform asks for, the buffer holds at least the record's
  // fixed part; when that is too small for the path the platform says so.
  for (const std::uint32_t required : {0U, 1U, kFixed - 1, kFixed}) {
    Machine m;
    m.system.AddReader(kPath0).requiredSize = required;
    PathBuffer path{};
    bool found = true;
    {
      console::Console out(m.console);
      found = GetInterfacePath(m.os, out, &path, 0);
    }
    EXPECT_FALSE(found) << required;
    EXPECT_EQ(m.console.err,
              "ERROR: SetupDiGetDeviceInterfaceDetail failed to get detailed interface data with "
              "error 0x0000007A")
        << required;
    EXPECT_EQ(m.system.Problems(), "") << required;
  }
  // An empty path fits in the fixed part itself.
  Machine m;
  m.system.AddReader(L"").requiredSize = 0;
  PathBuffer path{};
  console::Console out(m.console);
  EXPECT_TRUE(GetInterfacePath(m.os, out, &path, 0));
}

TEST(GetInterfacePath, AnAbsurdDetailSizeIsRefusedWithoutAllocating) {
  for (const std::uint32_t required : {0xFFFFFFFFU, 1048577U}) {
    Machine m;
    m.system.AddReader(kPath0).requiredSize = required;
    PathBuffer path{};
    {
      console::Console out(m.console);
      EXPECT_FALSE(GetInterfacePath(m.os, out, &path, 0));
    }
    EXPECT_EQ(m.console.err, "ERROR: Memory allocation failed.");
    EXPECT_EQ(m.system.CountCalls(Call::Allocate), 0U);
    EXPECT_EQ(m.system.Problems(), "");
  }
}

TEST(GetInterfacePath, NoBufferIsAnInvalidParameter) {
  Machine m;
  m.system.AddReader(kPath0);
  {
    console::Console out(m.console);
    EXPECT_FALSE(GetInterfacePath(m.os, out, nullptr, 0));
  }
  EXPECT_EQ(m.console.err, "ERROR: GetInterfacePath: invalid parameter.\r\n");
  EXPECT_TRUE(m.system.Calls().empty());
}

TEST(GetInterfacePath, AReaderThatLeftAfterTheCountIsSkippedSilently) {
  Machine m;
  m.system.AddReader(kPath0);
  m.system.AddReader(kPath1).leavesAtSnapshot = 1;
  ASSERT_EQ(CountReaders(m.system), 2);
  PathBuffer path{};
  {
    console::Console out(m.console);
    EXPECT_FALSE(GetInterfacePath(m.os, out, &path, 1));
  }
  EXPECT_EQ(m.console.err, "");
  EXPECT_TRUE(AllZero(path));
}

std::vector<Call> Releases(const sim::SimSystem& system) {
  std::vector<Call> order;
  for (const sim::CallRecord& r : system.Calls()) {
    if (r.call == Call::Free || r.call == Call::DestroyDeviceInfoList) order.push_back(r.call);
  }
  return order;
}

TEST(GetInterfacePath, ReleasesBufferAndSnapshotInTheirOrder) {
  struct Case {
    const char* name;
    std::function<void(sim::SimSystem&)> setup;
    std::vector<Call> order;
  };
  const std::vector<Case> cases = {
      {"found: the buffer, then the snapshot",
       [](sim::SimSystem& s) { s.AddReader(kPath0); },
       {Call::Free, Call::DestroyDeviceInfoList}},
      {"path too long: the snapshot, then the buffer",
       [](sim::SimSystem& s) { s.AddReader(std::wstring(600, L'x')); },
       {Call::DestroyDeviceInfoList, Call::Free}},
      {"detail refused: the snapshot, then the buffer",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.FailCall(Call::GetDeviceInterfaceDetail, 0xE000021CU, 2);
       },
       {Call::DestroyDeviceInfoList, Call::Free}},
  };
  for (const Case& c : cases) {
    Machine m;
    c.setup(m.system);
    PathBuffer path{};
    console::Console out(m.console);
    GetInterfacePath(m.os, out, &path, 0);
    EXPECT_EQ(Releases(m.system), c.order) << c.name;
  }
}

TEST(GetInterfacePath, EachLookupTakesItsOwnSnapshot) {
  Machine m;
  m.system.AddReader(kPath0);
  PathBuffer path{};
  console::Console out(m.console);
  ASSERT_TRUE(GetInterfacePath(m.os, out, &path, 0));
  ASSERT_TRUE(GetInterfacePath(m.os, out, &path, 0));
  EXPECT_EQ(m.system.CountCalls(Call::GetClassDevs), 2U);
  EXPECT_EQ(m.system.CountCalls(Call::DestroyDeviceInfoList), 2U);
  for (const sim::CallRecord& r : m.system.Calls()) {
    if (r.call == Call::GetClassDevs) {
      EXPECT_EQ(r.value, 0x12U);
    }
  }
}

// The simulated system refuses a record whose size field is not this
// process's record size, as SetupAPI does: a lookup written with the 32-bit
// literals would fail here, not only on a 64-bit Windows.
TEST(SimulatedSetupApi, RefusesRecordsWithAnotherSizeField) {
  sim::SimSystem system;
  system.AddReader(kPath0);
  platform::DevInfoSet set =
      system.GetClassDevs(reader::kReaderInterfaceClass, reader::kSnapshotFlags);
  platform::DevInfoData device{};
  device.size = 28;  // the size of a 32-bit process
  if (sizeof(platform::DevInfoData) != 28) {
    EXPECT_FALSE(system.EnumDeviceInfo(set, 0, &device));
    EXPECT_EQ(system.GetLastError(), platform::kErrorInvalidUserBuffer);
  }
  device.size = sizeof(platform::DevInfoData);
  ASSERT_TRUE(system.EnumDeviceInfo(set, 0, &device));
  platform::DeviceInterfaceData data{};
  data.size = sizeof(platform::DeviceInterfaceData) + 4;
  EXPECT_FALSE(system.EnumDeviceInterfaces(set, &device, reader::kReaderInterfaceClass, 0, &data));
  EXPECT_EQ(system.GetLastError(), platform::kErrorInvalidUserBuffer);
  EXPECT_TRUE(system.DestroyDeviceInfoList(set));
}

}  // namespace
}  // namespace drvflip::testing
