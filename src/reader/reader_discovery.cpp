// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "reader/reader_discovery.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "console/console.h"
#include "platform/platform.h"

namespace drvflip::reader {
namespace {

using console::Stream;
using platform::DevInfoSet;

// Owns a device information set; destroys it at the end of its scope unless
// released earlier.
class Snapshot {
 public:
  Snapshot(platform::DeviceSetup& setup, DevInfoSet set) : setup_(setup), set_(set) {}
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  Snapshot(Snapshot&&) = delete;
  Snapshot& operator=(Snapshot&&) = delete;
  ~Snapshot() { Release(); }

  [[nodiscard]] bool Valid() const { return set_ != platform::InvalidHandle(); }
  [[nodiscard]] DevInfoSet Get() const { return set_; }
  void Release() {
    if (Valid()) setup_.DestroyDeviceInfoList(set_);
    set_ = platform::InvalidHandle();
  }

 private:
  platform::DeviceSetup& setup_;
  DevInfoSet set_;
};

// Owns a block from the process heap.
class HeapBlock {
 public:
  explicit HeapBlock(platform::Kernel& kernel) : kernel_(kernel) {}
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  HeapBlock(HeapBlock&&) = delete;
  HeapBlock& operator=(HeapBlock&&) = delete;
  ~HeapBlock() { Release(); }

  [[nodiscard]] void* Get() const { return block_; }
  void Allocate(std::size_t size) {
    Release();
    block_ = kernel_.Allocate(size);
  }
  void Release() {
    if (block_ != nullptr) kernel_.Free(block_);
    block_ = nullptr;
  }

 private:
  platform::Kernel& kernel_;
  void* block_ = nullptr;
};

template <class Record>
Record EmptyRecord() {
  Record record{};
  record.size = sizeof(Record);
  return record;
}

DevInfoSet TakeSnapshot(platform::DeviceSetup& setup) {
  return setup.GetClassDevs(kReaderInterfaceClass, kSnapshotFlags);
}

}  // namespace

std::int32_t CountReaders(platform::DeviceSetup& setup) {
  const Snapshot snapshot(setup, TakeSnapshot(setup));
  if (!snapshot.Valid()) return -1;
  std::int32_t count = 0;
  for (;;) {
    auto device = EmptyRecord<platform::DevInfoData>();
    if (!setup.EnumDeviceInfo(snapshot.Get(), static_cast<std::uint32_t>(count), &device)) break;
    ++count;
  }
  return count;
}

bool GetInterfacePath(platform::Platform& os, console::Console& console, PathBuffer* path,
                      std::int32_t index) {
  if (path == nullptr) {
    console.Print(Stream::Err, L"ERROR: GetInterfacePath: invalid parameter.\n");
    return false;
  }
  path->fill(L'\0');

  Snapshot snapshot(os.setup, TakeSnapshot(os.setup));
  if (!snapshot.Valid()) {
    console.Print(Stream::Err, L"ERROR: SetupDiGetClassDevs failed with error 0x%08X",
                  os.kernel.GetLastError());
    return false;
  }

  auto device = EmptyRecord<platform::DevInfoData>();
  if (!os.setup.EnumDeviceInfo(snapshot.Get(), static_cast<std::uint32_t>(index), &device)) {
    const std::uint32_t error = os.kernel.GetLastError();
    snapshot.Release();
    if (error == platform::kErrorNoMoreItems) {
      if (index == 0) console.Print(Stream::Err, L"ERROR: No reader found!\n");
    } else {
      console.Print(Stream::Err,
                    L"ERROR: SetupDiEnumDeviceInfo failed for device index %d with error 0x%08X",
                    index, error);
    }
    return false;
  }

  auto interface = EmptyRecord<platform::DeviceInterfaceData>();
  if (!os.setup.EnumDeviceInterfaces(snapshot.Get(), &device, kReaderInterfaceClass, 0,
                                     &interface)) {
    const std::uint32_t error = os.kernel.GetLastError();
    snapshot.Release();
    if (error == platform::kErrorNoMoreItems) {
      console.Print(Stream::Err, L"ERROR: Device doesn't export the specified interface");
    } else {
      console.Print(Stream::Err, L"ERROR: SetupDiEnumDeviceInterfaces failed with error 0x%08X",
                    error);
    }
    return false;
  }

  // Ask for the size of the detail record. Failing with 122 is the expected
  // answer; a success is taken as well, with the size it stored.
  std::uint32_t required = 0;
  if (!os.setup.GetDeviceInterfaceDetail(snapshot.Get(), &interface, nullptr, 0, &required)) {
    const std::uint32_t error = os.kernel.GetLastError();
    if (error != platform::kErrorInsufficientBuffer) {
      snapshot.Release();
      console.Print(Stream::Err,
                    L"ERROR: SetupDiGetDeviceInterfaceDetail failed to determine required buffer "
                    L"size with error 0x%08X",
                    error);
      return false;
    }
  }

  // The buffer always holds at least the record's fixed part, which is
  // written below; a size beyond any real path is refused like a failed
  // allocation rather than obtained and zero-filled.
  const std::uint32_t size = std::max(required, platform::kDetailFixedSize);
  HeapBlock buffer(os.kernel);
  if (size <= kMaxDetailSize) buffer.Allocate(size);
  if (buffer.Get() == nullptr) {
    snapshot.Release();
    console.Print(Stream::Err, L"ERROR: Memory allocation failed.");
    return false;
  }
  std::memset(buffer.Get(), 0, size);
  auto* detail = static_cast<platform::DeviceInterfaceDetailData*>(buffer.Get());
  detail->size = platform::kDetailFixedSize;

  if (!os.setup.GetDeviceInterfaceDetail(snapshot.Get(), &interface, detail, size, nullptr)) {
    console.Print(Stream::Err,
                  L"ERROR: SetupDiGetDeviceInterfaceDetail failed to get detailed interface data "
                  L"with error 0x%08X",
                  os.kernel.GetLastError());
    snapshot.Release();
    buffer.Release();
    return false;
  }

  // Measure the path inside the buffer only: a path without a terminator ends
  // where the buffer ends.
  const wchar_t* devicePath = &detail->devicePath[0];
  const std::size_t room = (size - platform::kDetailPathOffset) / sizeof(wchar_t);
  const std::size_t length =
      static_cast<std::size_t>(std::find(devicePath, devicePath + room, L'\0') - devicePath);
  if (length > kPathCapacity - 1) {
    console.Print(Stream::Err, L"ERROR: Buffer to small.");
    snapshot.Release();
    buffer.Release();
    return false;
  }

  std::copy_n(devicePath, length, path->begin());
  buffer.Release();
  snapshot.Release();
  return true;
}

}  // namespace drvflip::reader
