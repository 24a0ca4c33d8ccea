// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The simulated side of the seam: device setup and kernel services as
// Windows provides them to drvflip, with a switch driver behind each reader.
//
// It models what the program relies on: error 259 at the end of a list, 122
// from a detail-size query, 997 for a queued request, the all-bits-set invalid
// handle, and the size fields that the records demand (a wrong one is refused
// with 1784). Tests configure readers and their drivers, inject a failure into
// any call, and read back a ledger of every call and of every handle,
// snapshot, buffer and queued request still open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace drvflip::sim {

using platform::DevInfoSet;
using platform::Handle;

enum class Call : std::uint8_t {
  GetClassDevs,
  EnumDeviceInfo,
  EnumDeviceInterfaces,
  GetDeviceInterfaceDetail,
  DestroyDeviceInfoList,
  CreateFile,
  CreateEvent,
  DeviceIoControl,
  GetOverlappedResult,
  CloseHandle,
  Allocate,
  Free,
};
const char* CallName(Call call);

// How a switch driver answers one request code.
struct Reply {
  std::uint32_t failWith = 0;          // fail with this error code (0: succeed)
  std::optional<std::uint32_t> bytes;  // report this byte count instead of the true one
  bool pending = false;                // queue it: 997 first, completed at the wait
  std::uint32_t failAtWait = 0;        // a queued request then fails with this code
};

// The reader's switch driver: answers the three control requests.
struct SwitchDriver {
  std::uint32_t apiVersion = 0x00010000U;   // 1.0
  std::uint32_t fileVersion = 0x00020003U;  // 2.3
  std::uint32_t buildNumber = 17;
  std::uint32_t fourthWord = 0xA5A5A5A5U;
  std::uint32_t activeType = 0;
  std::optional<std::uint32_t> reportedType;  // GetActiveDriver answers this instead
  std::map<std::uint32_t, Reply> replies;     // by control code
  std::vector<std::uint32_t> received;        // every code sent, in order
};

struct Reader {
  std::wstring path;
  bool hasInterface = true;
  // Absent from the snapshot with this number and every later one (the
  // first snapshot is number 0); -1: always present.
  int leavesAtSnapshot = -1;
  // The detail-size query stores this instead of the true size.
  std::optional<std::uint32_t> requiredSize;
  // The detail-size query succeeds instead of failing with 122.
  bool sizeQuerySucceeds = false;
  // The path arrives without its terminator.
  bool terminatePath = true;
  SwitchDriver driver;
};

// One control request as the driver got it: the code and the buffer sizes.
struct Request {
  std::uint32_t code = 0;
  std::uint32_t inputSize = 0;
  std::uint32_t outputSize = 0;
  bool operator==(const Request&) const = default;
};

struct CallRecord {
  Call call;
  std::uint32_t value;  // the index, the control code or the size; else 0
  std::uintptr_t handle;
  bool ok;
};

class SimSystem final : public platform::DeviceSetup, public platform::Kernel {
 public:
  SimSystem() = default;
  SimSystem(const SimSystem&) = delete;
  SimSystem& operator=(const SimSystem&) = delete;
  SimSystem(SimSystem&&) = delete;
  SimSystem& operator=(SimSystem&&) = delete;
  ~SimSystem();

  // Configuration.
  Reader& AddReader(const std::wstring& path);
  Reader& ReaderAt(std::size_t index) { return readers_.at(index); }
  // The occurrence-th call (counted from 1) of this kind fails with error;
  // occurrence 0 makes every call of the kind fail.
  void FailCall(Call call, std::uint32_t error, int occurrence = 1);
  // Allocations larger than this fail (a heap has its limits).
  void SetAllocationLimit(std::size_t bytes) { allocationLimit_ = bytes; }

  // The ledger.
  [[nodiscard]] const std::vector<CallRecord>& Calls() const { return calls_; }
  [[nodiscard]] std::size_t CountCalls(Call call) const;
  // Every control request sent, in order, to any reader, with its sizes.
  [[nodiscard]] const std::vector<Request>& RequestsSent() const { return requests_; }
  // Their control codes alone.
  [[nodiscard]] std::vector<std::uint32_t> CodesSent() const;
  // Handles, snapshots, buffers and queued requests still open.
  [[nodiscard]] std::size_t OpenCount() const;
  // A line per resource still open and per misuse seen; empty when clean.
  [[nodiscard]] std::string Problems() const;
  // What the last CreateFile and CreateEvent were asked for.
  struct CreateFileArgs {
    std::wstring path;
    std::uint32_t access, share, disposition, flags;
  };
  [[nodiscard]] const std::vector<CreateFileArgs>& FilesOpened() const { return filesOpened_; }
  struct EventArgs {
    bool manualReset, initialState;
  };
  [[nodiscard]] const std::vector<EventArgs>& EventsCreated() const { return eventsCreated_; }

  // DeviceSetup.
  DevInfoSet GetClassDevs(const platform::Guid& classGuid, std::uint32_t flags) override;
  bool EnumDeviceInfo(DevInfoSet set, std::uint32_t index, platform::DevInfoData* data) override;
  bool EnumDeviceInterfaces(DevInfoSet set, platform::DevInfoData* device,
                            const platform::Guid& interfaceClass, std::uint32_t member,
                            platform::DeviceInterfaceData* data) override;
  bool GetDeviceInterfaceDetail(DevInfoSet set, platform::DeviceInterfaceData* data,
                                platform::DeviceInterfaceDetailData* detail,
                                std::uint32_t detailSize, std::uint32_t* requiredSize) override;
  bool DestroyDeviceInfoList(DevInfoSet set) override;

  // Kernel.
  Handle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t flags) override;
  Handle CreateEvent(bool manualReset, bool initialState) override;
  bool DeviceIoControl(Handle device, std::uint32_t code, const void* input,
                       std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                       std::uint32_t* bytesReturned, platform::Overlapped* overlapped) override;
  bool GetOverlappedResult(Handle device, platform::Overlapped* overlapped,
                           std::uint32_t* bytesReturned, bool wait) override;
  bool CloseHandle(Handle handle) override;
  std::uint32_t GetLastError() override { return lastError_; }
  void* Allocate(std::size_t size) override;
  void Free(void* block) override;

 private:
  enum class Kind : std::uint8_t { Snapshot, Device, Event };
  struct Object {
    Kind kind = Kind::Snapshot;
    std::vector<std::size_t> readers;  // a snapshot's devices; a device's reader
  };
  struct Queued {
    Handle device;
    Handle event;
    std::uint32_t bytes;
    std::uint32_t failAtWait;
  };

  bool Fails(Call call, std::uint32_t* error);
  bool Record(Call call, std::uint32_t value, const void* handle, bool ok);
  bool Fail(Call call, std::uint32_t value, const void* handle, std::uint32_t error);
  Handle NewObject(Kind kind, std::vector<std::size_t> readers);
  const Object* Find(const void* handle, Kind kind) const;
  Reader* ReaderOf(const void* set, std::uintptr_t reserved);

  std::vector<Reader> readers_;
  std::map<Call, std::map<int, std::uint32_t>> failures_;
  std::map<Call, int> counts_;
  std::vector<CallRecord> calls_;
  std::vector<Request> requests_;
  std::map<std::uintptr_t, Object> objects_;
  std::map<const void*, std::size_t> blocks_;
  std::map<const platform::Overlapped*, Queued> queued_;
  std::vector<std::string> misuse_;
  std::vector<CreateFileArgs> filesOpened_;
  std::vector<EventArgs> eventsCreated_;
  std::uintptr_t nextHandle_ = 0x100;
  int snapshots_ = 0;
  std::size_t allocationLimit_ = std::size_t{64} << 20U;
  std::uint32_t lastError_ = 0;
};

}  // namespace drvflip::sim
