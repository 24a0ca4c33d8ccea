// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The whole program on a simulated machine: argument vector in; the exact
// bytes of both streams, the exit status and the requests the switch driver
// received out.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace drvflip::testing {
namespace {

using sim::Call;

// The three requests as the switch driver must get them: code, input and
// output size.
constexpr sim::Request kInfo{.code = 0x80912248U, .inputSize = 0, .outputSize = 16};
constexpr sim::Request kSet{.code = 0x8091224CU, .inputSize = 4, .outputSize = 0};
constexpr sim::Request kActive{.code = 0x80912250U, .inputSize = 0, .outputSize = 4};

std::string Narrow(const std::wstring& text) {
  return {text.begin(), text.end()};
}

std::string Head(const std::wstring& path, int count = 1) {
  return std::to_string(count) + " device(s) found.\n" + "Open '" + Narrow(path) + "'.\n";
}
const std::string kVersions = "\n\nDriver API version: 1.0\nDriver file version: 2.3.0.17\n";

struct Scenario {
  const char* name;
  std::function<void(sim::SimSystem&)> setup;
  const wchar_t* command;
  int status;
  std::string out;  // with line feeds; the program writes CR LF
  std::string err;
  std::vector<sim::Request> requests;  // every request sent, in order
};

TEST(SwitchRun, Scenarios) {
  const auto one = [](std::function<void(sim::Reader&)> f) {
    return [f](sim::SimSystem& s) { f(s.AddReader(kPath0)); };
  };
  const auto reply = [&](std::uint32_t code, sim::Reply r) {
    return one([=](sim::Reader& reader) { reader.driver.replies[code] = r; });
  };
  const auto api = [&](std::uint32_t version) {
    return one([=](sim::Reader& reader) { reader.driver.apiVersion = version; });
  };
  const std::string unsupported =
      " not supported. Expected major version = 1, expected minor version >= 0.\n";
  const std::vector<Scenario> scenarios = {
      {"pcsc on one reader",
       one([](sim::Reader&) {}),
       L"pcsc",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kSet, kActive}},
      {"tavi on one reader",
       one([](sim::Reader&) {}),
       L"tavi",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: TAVI\n",
       "",
       {kInfo, kSet, kActive}},
      {"no reader", [](sim::SimSystem&) {}, L"pcsc", 0, "0 device(s) found.\n", "", {}},
      {"no device list",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.FailCall(Call::GetClassDevs, 5);
       },
       L"pcsc",
       0,
       "-1 device(s) found.\n",
       "ERROR: CountReaders: the list of present devices could not be obtained.\n",
       {}},
      {"first path lookup fails, the second reader is switched",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0).hasInterface = false;
         s.AddReader(kPath1);
       },
       L"tavi",
       0,
       "2 device(s) found.\nERROR: Not found.\nOpen '" + Narrow(kPath1) + "'.\n" + kVersions +
           "\nCurrently activated driver type: TAVI\n",
       "ERROR: Device doesn't export the specified interface",
       {kInfo, kSet, kActive}},
      {"no path at all",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0).hasInterface = false;
         s.AddReader(kPath1).leavesAtSnapshot = 1;
       },
       L"pcsc",
       0,
       "2 device(s) found.\nERROR: Not found.\nERROR: Not found.\n",
       "ERROR: Device doesn't export the specified interface",
       {}},
      {"two good readers: only the first",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.AddReader(kPath1);
       },
       L"pcsc",
       0,
       Head(kPath0, 2) + kVersions + "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kSet, kActive}},
      {"API 2.0 refused",
       api(0x00020000U),
       L"pcsc",
       1,
       Head(kPath0) + "\n\nDriver API version: 2.0\nDriver file version: 2.3.0.17\n",
       "ERROR: Driver API version 2.0" + unsupported,
       {kInfo}},
      {"API 0.5 refused",
       api(0x00000005U),
       L"tavi",
       1,
       Head(kPath0) + "\n\nDriver API version: 0.5\nDriver file version: 2.3.0.17\n",
       "ERROR: Driver API version 0.5" + unsupported,
       {kInfo}},
      {"API 1.2, file 3.7, build 42",
       one([](sim::Reader& r) {
         r.driver.apiVersion = 0x00010002U;
         r.driver.fileVersion = 0x00030007U;
         r.driver.buildNumber = 42;
       }),
       L"pcsc",
       0,
       Head(kPath0) + "\n\nDriver API version: 1.2\nDriver file version: 3.7.0.42\n" +
           "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kSet, kActive}},
      {"build number of 2^31 prints negative",
       one([](sim::Reader& r) {
         r.driver.fileVersion = 0xFFFF0000U;
         r.driver.buildNumber = 0x80000000U;
       }),
       L"pcsc",
       0,
       Head(kPath0) + "\n\nDriver API version: 1.0\nDriver file version: 65535.0.0.-2147483648\n" +
           "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kSet, kActive}},
      {"version reply of 12 bytes",
       reply(kInfo.code, Bytes(12)),
       L"pcsc",
       1,
       Head(kPath0),
       "ERROR: GetDriverInfo: bytes returned = 12, bytes expected = 16.\n",
       {kInfo}},
      {"version reply of 0 bytes",
       reply(kInfo.code, Bytes(0)),
       L"pcsc",
       1,
       Head(kPath0),
       "ERROR: GetDriverInfo: bytes returned = 0, bytes expected = 16.\n",
       {kInfo}},
      {"version request refused",
       reply(kInfo.code, Refuse(1)),
       L"pcsc",
       1,
       Head(kPath0),
       "ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.\n",
       {kInfo}},
      {"SetDriverType refused",
       reply(kSet.code, Refuse(1)),
       L"tavi",
       1,
       Head(kPath0) + kVersions,
       "ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.\n",
       {kInfo, kSet}},
      {"GetActiveDriver refused",
       reply(kActive.code, Refuse(50)),
       L"tavi",
       0,
       Head(kPath0) + kVersions,
       "ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000032.\n",
       {kInfo, kSet, kActive}},
      {"GetActiveDriver short",
       reply(kActive.code, Bytes(2)),
       L"tavi",
       0,
       Head(kPath0) + kVersions,
       "ERROR: GetActiveDriver: bytes returned = 2, bytes expected = 4.\n",
       {kInfo, kSet, kActive}},
      {"active type 0x00010000 is unknown: the whole word is decoded",
       one([](sim::Reader& r) { r.driver.reportedType = 0x00010000U; }),
       L"pcsc",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: unknown\n",
       "",
       {kInfo, kSet, kActive}},
      {"active type is printed as reported, not compared",
       one([](sim::Reader& r) { r.driver.reportedType = 1; }),
       L"pcsc",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: TAVI\n",
       "",
       {kInfo, kSet, kActive}},
      {"version request pending",
       reply(kInfo.code, Pending()),
       L"pcsc",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kSet, kActive}},
      {"set pending",
       reply(kSet.code, Pending()),
       L"tavi",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: TAVI\n",
       "",
       {kInfo, kSet, kActive}},
      {"readback pending",
       reply(kActive.code, Pending()),
       L"tavi",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: TAVI\n",
       "",
       {kInfo, kSet, kActive}},
      {"set pending, then failed",
       reply(kSet.code, Pending(0x1F)),
       L"tavi",
       1,
       Head(kPath0) + kVersions,
       "ERROR: IoctlSync: GetOverlappedResult failed with error = 0x0000001F.\n",
       {kInfo, kSet}},
      {"open fails",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.FailCall(Call::CreateFile, 0x20);
       },
       L"pcsc",
       1,
       Head(kPath0),
       "ERROR: Open: CreateFile failed with error 0x00000020.\n",
       {}},
      {"event creation fails",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.FailCall(Call::CreateEvent, 8);
       },
       L"pcsc",
       1,
       Head(kPath0),
       "ERROR: Open: CreateEvent failed with error 0x00000008.\n"
       "WARNING: Close: Close event handle failed with error 0x00000006.\n",
       {}},
      {"closing fails after a switch",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.FailCall(Call::CloseHandle, 6, 2);
       },
       L"pcsc",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: PCSC\n",
       "WARNING: Close: Close device handle failed with error 0x00000006.\n",
       {kInfo, kSet, kActive}},
      // The query: the switch run's road without SetDriverType; 2 only where no reader is counted.
      {"query on one reader",
       one([](sim::Reader& r) { r.driver.activeType = 1; }),
       L"query",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: TAVI\n",
       "",
       {kInfo, kActive}},
      {"query, a driver that refuses every set request",
       reply(kSet.code, Refuse(1)),
       L"QUERY",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kActive}},
      {"query, an unknown type",
       one([](sim::Reader& r) { r.driver.reportedType = 2; }),
       L"query",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: unknown\n",
       "",
       {kInfo, kActive}},
      {"query, read pending",
       reply(kActive.code, Pending()),
       L"query",
       0,
       Head(kPath0) + kVersions + "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kActive}},
      {"query, no reader", [](sim::SimSystem&) {}, L"query", 2, "0 device(s) found.\n", "", {}},
      // Readers counted but none read: the state is not known, so not "no reader".
      {"query, one reader, no path",
       [](sim::SimSystem& s) { s.AddReader(kPath0).hasInterface = false; },
       L"query",
       1,
       "1 device(s) found.\nERROR: Not found.\n",
       "ERROR: Device doesn't export the specified interface",
       {}},
      {"query, no path at all",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0).hasInterface = false;
         s.AddReader(kPath1).leavesAtSnapshot = 1;
       },
       L"query",
       1,
       "2 device(s) found.\nERROR: Not found.\nERROR: Not found.\n",
       "ERROR: Device doesn't export the specified interface",
       {}},
      {"query, first path lookup fails, the second reader is read",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0).hasInterface = false;
         s.AddReader(kPath1).driver.activeType = 1;
       },
       L"query",
       0,
       "2 device(s) found.\nERROR: Not found.\nOpen '" + Narrow(kPath1) + "'.\n" + kVersions +
           "\nCurrently activated driver type: TAVI\n",
       "ERROR: Device doesn't export the specified interface",
       {kInfo, kActive}},
      {"query, two readers: only the first",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.AddReader(kPath1).driver.activeType = 1;
       },
       L"query",
       0,
       Head(kPath0, 2) + kVersions + "\nCurrently activated driver type: PCSC\n",
       "",
       {kInfo, kActive}},
      {"query, no device list: not known, so not 'no reader'",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.FailCall(Call::GetClassDevs, 5);
       },
       L"query",
       1,
       "-1 device(s) found.\n",
       "ERROR: CountReaders: the list of present devices could not be obtained.\n",
       {}},
      {"query, open fails",
       [](sim::SimSystem& s) {
         s.AddReader(kPath0);
         s.FailCall(Call::CreateFile, 5);
       },
       L"query",
       1,
       Head(kPath0),
       "ERROR: Open: CreateFile failed with error 0x00000005.\n",
       {}},
      {"query, version reply of 12 bytes",
       reply(kInfo.code, Bytes(12)),
       L"query",
       1,
       Head(kPath0),
       "ERROR: GetDriverInfo: bytes returned = 12, bytes expected = 16.\n",
       {kInfo}},
      {"query, API 2.0 refused",
       api(0x00020000U),
       L"query",
       1,
       Head(kPath0) + "\n\nDriver API version: 2.0\nDriver file version: 2.3.0.17\n",
       "ERROR: Driver API version 2.0" + unsupported,
       {kInfo}},
      {"query, read refused",
       reply(kActive.code, Refuse(50)),
       L"query",
       1,
       Head(kPath0) + kVersions,
       "ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000032.\n",
       {kInfo, kActive}},
      {"query, read short",
       reply(kActive.code, Bytes(5)),
       L"query",
       1,
       Head(kPath0) + kVersions,
       "ERROR: GetActiveDriver: bytes returned = 5, bytes expected = 4.\n",
       {kInfo, kActive}},
  };
  for (const Scenario& s : scenarios) {
    Machine m;
    s.setup(m.system);
    EXPECT_EQ(m.Run({s.command}), s.status) << s.name;
    EXPECT_EQ(m.console.out, Crlf(s.out)) << s.name;
    EXPECT_EQ(m.console.err, Crlf(s.err)) << s.name;
    EXPECT_EQ(m.system.RequestsSent(), s.requests) << s.name;
    EXPECT_EQ(m.system.Problems(), "") << s.name << ": nothing may be left open";
    EXPECT_EQ(m.system.OpenCount(), 0U) << s.name;
    EXPECT_EQ(m.console.waitsStarted, 0U) << s.name << ": only the usage waits for a key";
  }
}

TEST(SwitchRun, OnlyTheFirstReaderIsOpened) {
  Machine m;
  m.system.AddReader(kPath0);
  m.system.AddReader(kPath1);
  ASSERT_EQ(m.Run({L"tavi"}), 0);
  ASSERT_EQ(m.system.FilesOpened().size(), 1U);
  EXPECT_EQ(m.system.FilesOpened()[0].path, kPath0);
  EXPECT_EQ(m.system.ReaderAt(0).driver.activeType, 1U);
  EXPECT_EQ(m.system.ReaderAt(1).driver.activeType, 0U);
  EXPECT_TRUE(m.system.ReaderAt(1).driver.received.empty());
}

TEST(SwitchRun, ManyReadersManyMissingPaths) {
  Machine m;
  for (int i = 0; i < 5; ++i) m.system.AddReader(kPath0 + std::to_wstring(i)).hasInterface = false;
  EXPECT_EQ(m.Run({L"pcsc"}), 0);
  std::string expected = "5 device(s) found.\n";
  for (int i = 0; i < 5; ++i) expected += "ERROR: Not found.\n";
  EXPECT_EQ(m.console.out, Crlf(expected));
  EXPECT_EQ(m.system.CountCalls(Call::GetClassDevs), 6U) << "one snapshot to count, one per lookup";
  EXPECT_EQ(m.system.Problems(), "");
}

TEST(SwitchRun, APathWithCharactersAbove255IsOpenedAsItIsAndPrintedWithQuestionMarks) {
  Machine m;
  const std::wstring path = std::wstring(L"\\\\?\\usb#") + wchar_t(0xE9) + wchar_t(0x4E2D) + L"#1";
  m.system.AddReader(path);
  EXPECT_EQ(m.Run({L"pcsc"}), 0);
  const std::string head = Crlf("1 device(s) found.\nOpen '\\\\?\\usb#\xE9?#1'.\n");
  EXPECT_EQ(m.console.out.substr(0, head.size()), head);
  ASSERT_EQ(m.system.FilesOpened().size(), 1U);
  EXPECT_EQ(m.system.FilesOpened()[0].path, path) << "the path itself is not changed";
}

// A command that no row maps to a driver type never comes out of the parser;
// the switch run still refuses it before sending anything that changes the driver.
TEST(SwitchRun, ACommandWithoutADriverTypeIsRefused) {
  Machine m;
  m.system.AddReader(kPath0);
  app::CommandState command;
  command.id = 7;
  command.name = {L'p', L'c', L's', L'x'};
  reader::PathBuffer path{};
  int status = -1;
  {
    console::Console out(m.console);
    status = app::SwitchRun(m.os, out, command, path);
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(m.console.out, Crlf(Head(kPath0) + kVersions));
  EXPECT_EQ(m.console.err, Crlf("ERROR: Unexpected command 7 ('pcsx') to set driver type\n"));
  EXPECT_EQ(m.system.RequestsSent(), std::vector<sim::Request>{kInfo});
  EXPECT_EQ(m.system.Problems(), "");
}

}  // namespace
}  // namespace drvflip::testing
