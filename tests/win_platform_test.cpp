// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The Windows side of the seam through the real calls, in a Wine prefix
// where no reader is installed.
#include "platform/win/win_platform.h"

#include <gtest/gtest.h>

#include "app/entry.h"
#include "harness.h"
#include "reader/io_channel.h"
#include "reader/reader_discovery.h"

namespace drvflip::testing {
namespace {

struct RealMachine {
  platform::WinDeviceSetup setup;
  platform::WinKernel kernel;
  sim::SimConsole console;
  platform::Platform os{setup, kernel, console};
};

TEST(WindowsSide, NoReaderIsFoundThroughSetupApi) {
  RealMachine m;
  EXPECT_EQ(reader::CountReaders(m.setup), 0);
  reader::PathBuffer path{};
  {
    console::Console out(m.console);
    EXPECT_FALSE(reader::GetInterfacePath(m.os, out, &path, 0));
  }
  EXPECT_EQ(m.console.err, "ERROR: No reader found!\r\n");
}

TEST(WindowsSide, TheSwitchRunWithNoReader) {
  RealMachine m;
  const wchar_t* argv[] = {L"drvflip.exe", L"pcsc", nullptr};  // NOLINT(*-avoid-c-arrays)
  int status = -1;
  {
    console::Console out(m.console);
    status = app::RunProgram(m.os, out, 2, argv);
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(m.console.out, "0 device(s) found.\r\n");
  EXPECT_EQ(m.console.err, "");
}

TEST(WindowsSide, OpeningAMissingDeviceFails) {
  RealMachine m;
  {
    console::Console out(m.console);
    reader::IoChannel channel(m.kernel, out);
    EXPECT_FALSE(
        channel.Open(L"\\\\?\\root#drvflip_none#0000#{c4414883-6b5b-44c2-b888-7d04fe8505d2}"));
    EXPECT_FALSE(channel.IsOpen());
  }
  EXPECT_EQ(m.console.err.rfind("ERROR: Open: CreateFile failed with error 0x0000000", 0), 0U)
      << m.console.err;
}

// Wine puts every process in session 1, services too; Windows puts services
// and what they start in session 0.
TEST(WindowsSide, TheSessionOfThisProcessIsLearnt) {
  platform::WinConsoleIo io;
  std::uint32_t session = 0xFFFFFFFFU;
  EXPECT_TRUE(io.GetSessionId(&session));
  EXPECT_NE(session, 0xFFFFFFFFU);
}

TEST(WindowsSide, HeapBlocksAndEvents) {
  platform::WinKernel kernel;
  void* block = kernel.Allocate(100);
  ASSERT_NE(block, nullptr);
  kernel.Free(block);
  platform::Handle event = kernel.CreateEvent(false, false);
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(kernel.CloseHandle(event));
  EXPECT_FALSE(kernel.CloseHandle(nullptr));
  EXPECT_EQ(kernel.GetLastError(), platform::kErrorInvalidHandle);
}

}  // namespace
}  // namespace drvflip::testing
