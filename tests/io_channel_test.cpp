// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "reader/io_channel.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "harness.h"

namespace drvflip::testing {
namespace {

using reader::IoChannel;
using sim::Call;

constexpr std::uint32_t kInfo = 0x80912248U;

std::vector<Call> CallOrder(const sim::SimSystem& system) {
  std::vector<Call> order;
  for (const sim::CallRecord& r : system.Calls()) order.push_back(r.call);
  return order;
}

TEST(IoChannel, RequestOnAClosedChannelMakesNoCall) {
  Machine m;
  {
    console::Console out(m.console);
    IoChannel channel(m.system, out);
    std::uint32_t count = 99;
    EXPECT_FALSE(channel.IoctlSync(kInfo, nullptr, 0, nullptr, 0, &count));
  }
  EXPECT_EQ(m.console.err, "ERROR: IoctlSync: no open channel found\r\n");
  EXPECT_TRUE(m.system.Calls().empty());
}

TEST(IoChannel, OpensForOverlappedReadWriteWithAnAutoResetEvent) {
  Machine m;
  m.system.AddReader(kPath0);
  {
    console::Console out(m.console);
    IoChannel channel(m.system, out);
    ASSERT_TRUE(channel.Open(kPath0.c_str()));
    EXPECT_TRUE(channel.IsOpen());
    ASSERT_EQ(m.system.FilesOpened().size(), 1U);
    const auto& file = m.system.FilesOpened()[0];
    EXPECT_EQ(file.path, kPath0);
    EXPECT_EQ(file.access, platform::kGenericRead | platform::kGenericWrite);
    EXPECT_EQ(file.share, platform::kFileShareRead | platform::kFileShareWrite);
    EXPECT_EQ(file.disposition, platform::kOpenExisting);
    EXPECT_EQ(file.flags, platform::kFileFlagOverlapped);
    ASSERT_EQ(m.system.EventsCreated().size(), 1U);
    EXPECT_FALSE(m.system.EventsCreated()[0].manualReset);
    EXPECT_FALSE(m.system.EventsCreated()[0].initialState);
  }
  // Destroying the open channel closed it: the event first, then the device.
  EXPECT_EQ(CallOrder(m.system), (std::vector<Call>{Call::CreateFile, Call::CreateEvent,
                                                    Call::CloseHandle, Call::CloseHandle}));
  EXPECT_EQ(m.system.Calls()[2].handle, m.system.Calls()[1].handle);
  EXPECT_EQ(m.system.Calls()[3].handle, m.system.Calls()[0].handle);
  EXPECT_EQ(m.console.err, "");
  EXPECT_EQ(m.system.Problems(), "");
}

TEST(IoChannel, OpenOnAMissingPathStaysClosed) {
  Machine m;
  {
    console::Console out(m.console);
    IoChannel channel(m.system, out);
    EXPECT_FALSE(channel.Open(kPath0.c_str()));
    EXPECT_FALSE(channel.IsOpen());
  }
  EXPECT_EQ(m.console.err, "ERROR: Open: CreateFile failed with error 0x00000002.\r\n");
  EXPECT_EQ(CallOrder(m.system), std::vector<Call>{Call::CreateFile});
}

TEST(IoChannel, OpenTwiceKeepsTheFirstConnection) {
  Machine m;
  m.system.AddReader(kPath0);
  {
    console::Console out(m.console);
    IoChannel channel(m.system, out);
    ASSERT_TRUE(channel.Open(kPath0.c_str()));
    EXPECT_FALSE(channel.Open(kPath0.c_str()));
    std::array<std::uint8_t, 16> info{};
    std::uint32_t count = 0;
    EXPECT_TRUE(channel.IoctlSync(kInfo, nullptr, 0, info.data(), 16, &count));
    EXPECT_EQ(count, 16U);
  }
  EXPECT_EQ(m.console.err, "ERROR: Open: I/O channel to the device already open\r\n");
  EXPECT_EQ(m.system.FilesOpened().size(), 1U);
  EXPECT_EQ(m.system.Problems(), "");
}

TEST(IoChannel, FailedEventCreationWarnsAndClosesTheDevice) {
  Machine m;
  m.system.AddReader(kPath0);
  m.system.FailCall(Call::CreateEvent, 8);
  {
    console::Console out(m.console);
    IoChannel channel(m.system, out);
    EXPECT_FALSE(channel.Open(kPath0.c_str()));
    EXPECT_FALSE(channel.IsOpen());
  }
  EXPECT_EQ(m.console.err,
            "ERROR: Open: CreateEvent failed with error 0x00000008.\r\n"
            "WARNING: Close: Close event handle failed with error 0x00000006.\r\n");
  EXPECT_EQ(CallOrder(m.system), (std::vector<Call>{Call::CreateFile, Call::CreateEvent,
                                                    Call::CloseHandle, Call::CloseHandle}));
  EXPECT_EQ(m.system.Problems(), "");
}

TEST(IoChannel, CloseFailuresAreWarningsAndTheChannelEndsClosed) {
  struct Case {
    int failingClose;
    std::string err;
  };
  for (const Case& c :
       {Case{1, "WARNING: Close: Close event handle failed with error 0x0000001F.\r\n"},
        Case{2, "WARNING: Close: Close device handle failed with error 0x0000001F.\r\n"}}) {
    Machine m;
    m.system.AddReader(kPath0);
    m.system.FailCall(Call::CloseHandle, 0x1F, c.failingClose);
    {
      console::Console out(m.console);
      IoChannel channel(m.system, out);
      ASSERT_TRUE(channel.Open(kPath0.c_str()));
      channel.Close();
      EXPECT_FALSE(channel.IsOpen());
    }
    EXPECT_EQ(m.console.err, c.err);
    EXPECT_EQ(m.system.CountCalls(Call::CloseHandle), 2U) << "a closed channel is not closed again";
  }
}

struct RequestCase {
  const char* name;
  sim::Reply reply;
  bool givePlace;
  bool ok;
  std::uint32_t count;
  std::string err;
};

TEST(IoChannel, RequestsCompleteAtOnceOrAtTheWait) {
  const std::vector<RequestCase> cases = {
      {"at once", {}, true, true, 16, ""},
      {"pending", Pending(), true, true, 16, ""},
      {"pending without a place for the count", Pending(), false, true, 0, ""},
      {"at once, short", Bytes(12), true, true, 12, ""},
      {"pending, short",
       {.failWith = 0, .bytes = 12, .pending = true, .failAtWait = 0},
       true,
       true,
       12,
       ""},
      {"refused", Refuse(1), true, false, 0,
       "ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000001.\r\n"},
      {"refused as not supported", Refuse(50), true, false, 0,
       "ERROR: IoctlSync: DeviceIoControl failed with error = 0x00000032.\r\n"},
      {"pending, then failed", Pending(0x1F), true, false, 0,
       "ERROR: IoctlSync: GetOverlappedResult failed with error = 0x0000001F.\r\n"},
  };
  for (const RequestCase& c : cases) {
    Machine m;
    m.system.AddReader(kPath0).driver.replies[kInfo] = c.reply;
    {
      console::Console out(m.console);
      IoChannel channel(m.system, out);
      ASSERT_TRUE(channel.Open(kPath0.c_str()));
      std::array<std::uint8_t, 16> info{};
      std::uint32_t count = 0;
      EXPECT_EQ(
          channel.IoctlSync(kInfo, nullptr, 0, info.data(), 16, c.givePlace ? &count : nullptr),
          c.ok)
          << c.name;
      EXPECT_EQ(count, c.count) << c.name;
      EXPECT_EQ(m.system.CountCalls(Call::GetOverlappedResult), c.reply.pending ? 1U : 0U)
          << c.name;
      // The channel goes on serving requests after each outcome.
      m.system.ReaderAt(0).driver.replies.clear();
      EXPECT_TRUE(channel.IoctlSync(kInfo, nullptr, 0, info.data(), 16, &count)) << c.name;
    }
    EXPECT_EQ(m.console.err, c.err) << c.name;
    EXPECT_EQ(m.system.Problems(), "") << c.name;
  }
}

TEST(IoChannel, AFailedWaitCallIsReported) {
  Machine m;
  m.system.AddReader(kPath0).driver.replies[kInfo] = Pending();
  m.system.FailCall(Call::GetOverlappedResult, 6);
  {
    console::Console out(m.console);
    IoChannel channel(m.system, out);
    ASSERT_TRUE(channel.Open(kPath0.c_str()));
    std::array<std::uint8_t, 16> info{};
    EXPECT_FALSE(channel.IoctlSync(kInfo, nullptr, 0, info.data(), 16, nullptr));
  }
  EXPECT_EQ(m.console.err,
            "ERROR: IoctlSync: GetOverlappedResult failed with error = 0x00000006.\r\n");
  EXPECT_EQ(m.system.Problems(), "");
}

}  // namespace
}  // namespace drvflip::testing
