// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "driverctl/driver_requests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace drvflip::testing {
namespace {

namespace dc = driverctl;

TEST(DriverControl, ApiVersionRule) {
  struct Case {
    std::uint32_t api;
    bool ok;
    std::string err;
  };
  const std::vector<Case> cases = {
      {0x00010000U, true, ""},
      {0x00010002U, true, ""},
      {0x0001FFFFU, true, ""},
      {0x00000005U, false,
       "ERROR: Driver API version 0.5 not supported. Expected major version = 1, expected minor "
       "version >= 0.\r\n"},
      {0x00020000U, false,
       "ERROR: Driver API version 2.0 not supported. Expected major version = 1, expected minor "
       "version >= 0.\r\n"},
      {0xFFFFFFFFU, false,
       "ERROR: Driver API version 65535.65535 not supported. Expected major version = 1, expected "
       "minor version "
       ">= 0.\r\n"},
  };
  for (const Case& c : cases) {
    sim::SimConsole io;
    {
      console::Console out(io);
      dc::DriverInfo info;
      info.bytes = {static_cast<std::uint8_t>(c.api), static_cast<std::uint8_t>(c.api >> 8U),
                    static_cast<std::uint8_t>(c.api >> 16U),
                    static_cast<std::uint8_t>(c.api >> 24U)};
      EXPECT_EQ(dc::CheckApiVersion(out, info), c.ok) << c.api;
    }
    EXPECT_EQ(io.err, c.err);
  }
}

TEST(DriverControl, RecordsAreLittleEndianWords) {
  dc::DriverInfo info;
  info.bytes = {0x02, 0x00, 0x01, 0x00, 0x07, 0x00, 0x03, 0x00,
                0x2A, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(dc::Major(info.ApiVersion()), 1);
  EXPECT_EQ(dc::Minor(info.ApiVersion()), 2);
  EXPECT_EQ(dc::Major(info.FileVersion()), 3);
  EXPECT_EQ(dc::Minor(info.FileVersion()), 7);
  EXPECT_EQ(info.BuildNumber(), 0x8000002AU);
}

TEST(DriverControl, CommandsTypesAndNames) {
  struct Case {
    app::CommandId command;
    bool ok;
    dc::DriverType type;
  };
  for (const Case& c : {Case{1, true, 1}, Case{2, true, 0}, Case{0, false, 9}, Case{3, false, 9},
                        Case{-1, false, 9}}) {
    dc::DriverType type = 9;
    EXPECT_EQ(dc::DriverTypeForCommand(c.command, &type), c.ok) << c.command;
    EXPECT_EQ(type, c.type) << c.command;
  }
  EXPECT_STREQ(dc::DriverTypeName(0), L"PCSC");
  EXPECT_STREQ(dc::DriverTypeName(1), L"TAVI");
  EXPECT_STREQ(dc::DriverTypeName(2), L"unknown");
  EXPECT_STREQ(dc::DriverTypeName(7), L"unknown");
  EXPECT_STREQ(dc::DriverTypeName(0x00010000U), L"unknown");
  EXPECT_STREQ(dc::DriverTypeName(0xFFFFFFFFU), L"unknown");
}

struct LengthCase {
  std::uint32_t code;
  std::uint32_t bytes;
  std::string err;
};

TEST(DriverControl, RepliesOfTheWrongLengthAreFailures) {
  const std::vector<LengthCase> cases = {
      {dc::kCodeGetDriverInfo, 12,
       "ERROR: GetDriverInfo: bytes returned = 12, bytes expected = 16.\r\n"},
      {dc::kCodeGetDriverInfo, 0,
       "ERROR: GetDriverInfo: bytes returned = 0, bytes expected = 16.\r\n"},
      {dc::kCodeGetDriverInfo, 0x80000000U,
       "ERROR: GetDriverInfo: bytes returned = 2147483648, bytes expected = 16.\r\n"},
      {dc::kCodeGetActiveDriver, 2,
       "ERROR: GetActiveDriver: bytes returned = 2, bytes expected = 4.\r\n"},
      {dc::kCodeGetActiveDriver, 8,
       "ERROR: GetActiveDriver: bytes returned = 8, bytes expected = 4.\r\n"},
      {dc::kCodeGetActiveDriver, 0xFFFFFFFFU,
       "ERROR: GetActiveDriver: bytes returned = 4294967295, bytes expected = 4.\r\n"},
  };
  for (const LengthCase& c : cases) {
    Machine m;
    sim::Reply reply;
    reply.bytes = c.bytes;
    m.system.AddReader(kPath0).driver.replies[c.code] = reply;
    {
      console::Console out(m.console);
      reader::IoChannel channel(m.system, out);
      ASSERT_TRUE(channel.Open(kPath0.c_str()));
      if (c.code == dc::kCodeGetDriverInfo) {
        dc::DriverInfo info;
        EXPECT_FALSE(dc::GetDriverInfo(channel, out, &info));
        EXPECT_EQ(info.bytes, dc::DriverInfo{}.bytes) << "no partial record is kept";
      } else {
        dc::DriverType type = 5;
        EXPECT_FALSE(dc::GetActiveDriver(channel, out, &type));
      }
    }
    EXPECT_EQ(m.console.err, c.err);
  }
}

TEST(DriverControl, SetDriverTypeSendsTheTypeAsFourBytes) {
  Machine m;
  m.system.AddReader(kPath0);
  console::Console out(m.console);
  reader::IoChannel channel(m.system, out);
  ASSERT_TRUE(channel.Open(kPath0.c_str()));
  for (const dc::DriverType type : {dc::kDriverTavi, dc::kDriverPcsc, dc::kDriverTavi}) {
    ASSERT_TRUE(dc::SetDriverType(channel, type));
    dc::DriverType active = 9;
    ASSERT_TRUE(dc::GetActiveDriver(channel, out, &active));
    EXPECT_EQ(active, type);
  }
  EXPECT_FALSE(dc::SetDriverType(channel, 2))
      << "the simulated driver refuses a type it does not know";
}

}  // namespace
}  // namespace drvflip::testing
