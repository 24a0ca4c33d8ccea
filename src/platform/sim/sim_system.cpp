// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "platform/sim/sim_system.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace drvflip::sim {
namespace {

using platform::kErrorInsufficientBuffer;
using platform::kErrorInvalidHandle;
using platform::kErrorInvalidParameter;
using platform::kErrorInvalidUserBuffer;
using platform::kErrorIoPending;
using platform::kErrorNoMoreItems;

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kCodeGetDriverInfo = 0x80912248U;
constexpr std::uint32_t kCodeSetDriverType = 0x8091224CU;
constexpr std::uint32_t kCodeGetActiveDriver = 0x80912250U;
// Heap blocks come filled with this byte, as a debug heap fills them: HeapAlloc
// does not clear what it hands out.
constexpr int kHeapFill = 0xBA;

// The reader's interface class, {C4414883-6B5B-44C2-B888-7D04FE8505D2},
// compared as SetupAPI compares a GUID: all 16 bytes.
bool IsReaderClass(const platform::Guid& guid) {
  constexpr std::array<std::uint8_t, 8> kTail{0xB8, 0x88, 0x7D, 0x04, 0xFE, 0x85, 0x05, 0xD2};
  return guid.data1 == 0xC4414883U && guid.data2 == 0x6B5BU && guid.data3 == 0x44C2U &&
         std::equal(kTail.begin(), kTail.end(), std::begin(guid.data4));
}

void PutWord(std::uint8_t* out, std::uint32_t word) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<std::uint8_t>(word >> (8U * static_cast<unsigned>(i)));
}

std::uintptr_t Key(const void* handle) {
  return reinterpret_cast<std::uintptr_t>(handle);  // NOLINT(*-reinterpret-cast)
}

// The switch driver's answer to one request that is to succeed; false with
// the error it completes with.
bool Answer(Reader& reader, std::uint32_t code, const void* input, std::uint32_t inputSize,
            void* output, std::uint32_t outputSize, std::uint32_t* bytes, std::uint32_t* error) {
  SwitchDriver& driver = reader.driver;
  auto* out = static_cast<std::uint8_t*>(output);
  *bytes = 0;
  switch (code) {
    case kCodeGetDriverInfo:
      if (out == nullptr || outputSize < 16) break;
      PutWord(out, driver.apiVersion);
      PutWord(out + 4, driver.fileVersion);
      PutWord(out + 8, driver.buildNumber);
      PutWord(out + 12, driver.fourthWord);
      *bytes = 16;
      return true;
    case kCodeSetDriverType: {
      if (input == nullptr || inputSize < 4) {
        *error = kErrorInvalidParameter;
        return false;
      }
      std::uint32_t type = 0;
      std::memcpy(&type, input, 4);
      if (type > 1) {
        *error = kErrorInvalidParameter;
        return false;
      }
      driver.activeType = type;
      return true;
    }
    case kCodeGetActiveDriver:
      if (out == nullptr || outputSize < 4) break;
      PutWord(out, driver.reportedType.value_or(driver.activeType));
      *bytes = 4;
      return true;
    default: *error = kErrorInvalidFunction; return false;
  }
  *error = kErrorInsufficientBuffer;
  return false;
}

}  // namespace

const char* CallName(Call call) {
  switch (call) {
    case Call::GetClassDevs: return "SetupDiGetClassDevsW";
    case Call::EnumDeviceInfo: return "SetupDiEnumDeviceInfo";
    case Call::EnumDeviceInterfaces: return "SetupDiEnumDeviceInterfaces";
    case Call::GetDeviceInterfaceDetail: return "SetupDiGetDeviceInterfaceDetailW";
    case Call::DestroyDeviceInfoList: return "SetupDiDestroyDeviceInfoList";
    case Call::CreateFile: return "CreateFileW";
    case Call::CreateEvent: return "CreateEventW";
    case Call::DeviceIoControl: return "DeviceIoControl";
    case Call::GetOverlappedResult: return "GetOverlappedResult";
    case Call::CloseHandle: return "CloseHandle";
    case Call::Allocate: return "HeapAlloc";
    case Call::Free: return "HeapFree";
  }
  return "?";
}

SimSystem::~SimSystem() {
  for (const auto& [block, size] : blocks_) std::free(const_cast<void*>(block));  // NOLINT
}

Reader& SimSystem::AddReader(const std::wstring& path) {
  Reader reader;
  reader.path = path;
  readers_.emplace_back(std::move(reader));
  return readers_.back();
}

void SimSystem::FailCall(Call call, std::uint32_t error, int occurrence) {
  failures_[call][occurrence] = error;
}

std::size_t SimSystem::CountCalls(Call call) const {
  return static_cast<std::size_t>(std::count_if(
      calls_.begin(), calls_.end(), [call](const CallRecord& r) { return r.call == call; }));
}

std::vector<std::uint32_t> SimSystem::CodesSent() const {
  std::vector<std::uint32_t> codes(requests_.size());
  std::ranges::transform(requests_, codes.begin(), [](const Request& r) { return r.code; });
  return codes;
}

std::size_t SimSystem::OpenCount() const {
  return objects_.size() + blocks_.size() + queued_.size();
}

std::string SimSystem::Problems() const {
  std::string text;
  for (const auto& [handle, object] : objects_) {
    static constexpr std::array<const char*, 3> kNames{"snapshot", "device handle", "event handle"};
    text += std::string("open ") + kNames.at(static_cast<std::size_t>(object.kind)) + " " +
            std::to_string(handle) + "\n";
  }
  for (const auto& [block, size] : blocks_)
    text += "buffer of " + std::to_string(size) + " bytes not freed\n";
  if (!queued_.empty())
    text += std::to_string(queued_.size()) + " queued request(s) never awaited\n";
  for (const std::string& line : misuse_) text += line + "\n";
  return text;
}

bool SimSystem::Fails(Call call, std::uint32_t* error) {
  const int n = ++counts_[call];
  const auto it = failures_.find(call);
  if (it == failures_.end()) return false;
  auto hit = it->second.find(n);
  if (hit == it->second.end()) hit = it->second.find(0);
  if (hit == it->second.end()) return false;
  *error = hit->second;
  return true;
}

bool SimSystem::Record(Call call, std::uint32_t value, const void* handle, bool ok) {
  calls_.push_back({call, value, Key(handle), ok});
  // A call that succeeds may change the last error, as Windows' calls may (a
  // successful SetupDiDestroyDeviceInfoList sets it to 0): a code read one
  // call too late shows in the message.
  if (ok) lastError_ = 0;
  return ok;
}

bool SimSystem::Fail(Call call, std::uint32_t value, const void* handle, std::uint32_t error) {
  lastError_ = error;
  return Record(call, value, handle, false);
}

Handle SimSystem::NewObject(Kind kind, std::vector<std::size_t> readers) {
  const std::uintptr_t key = nextHandle_;
  nextHandle_ += 4;
  objects_[key] = Object{.kind = kind, .readers = std::move(readers)};
  return reinterpret_cast<Handle>(key);  // NOLINT
}

const SimSystem::Object* SimSystem::Find(const void* handle, Kind kind) const {
  const auto it = objects_.find(Key(handle));
  return it != objects_.end() && it->second.kind == kind ? &it->second : nullptr;
}

Reader* SimSystem::ReaderOf(const void* set, std::uintptr_t reserved) {
  const Object* snapshot = Find(set, Kind::Snapshot);
  if (snapshot == nullptr || reserved == 0) return nullptr;
  const std::size_t reader = reserved - 1;
  if (std::ranges::find(snapshot->readers, reader) == snapshot->readers.end()) {
    return nullptr;
  }
  return &readers_[reader];
}

DevInfoSet SimSystem::GetClassDevs(const platform::Guid& classGuid, std::uint32_t flags) {
  std::uint32_t error = 0;
  if (Fails(Call::GetClassDevs, &error)) {
    Fail(Call::GetClassDevs, flags, nullptr, error);
    return platform::InvalidHandle();
  }
  const int number = snapshots_++;
  std::vector<std::size_t> present;
  const bool readerClass =
      IsReaderClass(classGuid) && (flags & platform::kDigcfDeviceInterface) != 0;
  for (std::size_t i = 0; readerClass && i < readers_.size(); ++i) {
    if (readers_[i].leavesAtSnapshot < 0 || number < readers_[i].leavesAtSnapshot)
      present.emplace_back(i);
  }
  const Handle set = NewObject(Kind::Snapshot, std::move(present));
  Record(Call::GetClassDevs, flags, set, true);
  return set;
}

bool SimSystem::EnumDeviceInfo(DevInfoSet set, std::uint32_t index, platform::DevInfoData* data) {
  std::uint32_t error = 0;
  if (Fails(Call::EnumDeviceInfo, &error)) return Fail(Call::EnumDeviceInfo, index, set, error);
  const Object* snapshot = Find(set, Kind::Snapshot);
  if (snapshot == nullptr) return Fail(Call::EnumDeviceInfo, index, set, kErrorInvalidHandle);
  if (data == nullptr) return Fail(Call::EnumDeviceInfo, index, set, kErrorInvalidParameter);
  if (data->size != sizeof(platform::DevInfoData)) {
    misuse_.emplace_back("SP_DEVINFO_DATA size field " + std::to_string(data->size));
    return Fail(Call::EnumDeviceInfo, index, set, kErrorInvalidUserBuffer);
  }
  if (index >= snapshot->readers.size())
    return Fail(Call::EnumDeviceInfo, index, set, kErrorNoMoreItems);
  data->classGuid = platform::Guid{.data1 = 0x4D36E97DU,
                                   .data2 = 0xE325U,
                                   .data3 = 0x11CEU,
                                   .data4 = {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  data->devInst = static_cast<std::uint32_t>(index + 1);
  data->reserved = snapshot->readers[index] + 1;
  return Record(Call::EnumDeviceInfo, index, set, true);
}

bool SimSystem::EnumDeviceInterfaces(DevInfoSet set, platform::DevInfoData* device,
                                     const platform::Guid& interfaceClass, std::uint32_t member,
                                     platform::DeviceInterfaceData* data) {
  std::uint32_t error = 0;
  if (Fails(Call::EnumDeviceInterfaces, &error))
    return Fail(Call::EnumDeviceInterfaces, member, set, error);
  if (Find(set, Kind::Snapshot) == nullptr)
    return Fail(Call::EnumDeviceInterfaces, member, set, kErrorInvalidHandle);
  if (device == nullptr || data == nullptr)
    return Fail(Call::EnumDeviceInterfaces, member, set, kErrorInvalidParameter);
  if (device->size != sizeof(platform::DevInfoData) ||
      data->size != sizeof(platform::DeviceInterfaceData)) {
    misuse_.emplace_back("SP_DEVICE_INTERFACE_DATA size field " + std::to_string(data->size));
    return Fail(Call::EnumDeviceInterfaces, member, set, kErrorInvalidUserBuffer);
  }
  const Reader* reader = ReaderOf(set, device->reserved);
  if (reader == nullptr)
    return Fail(Call::EnumDeviceInterfaces, member, set, kErrorInvalidParameter);
  if (!reader->hasInterface || member != 0 || !IsReaderClass(interfaceClass)) {
    return Fail(Call::EnumDeviceInterfaces, member, set, kErrorNoMoreItems);
  }
  data->interfaceClassGuid = interfaceClass;
  data->flags = 1;  // SPINT_ACTIVE
  data->reserved = device->reserved;
  return Record(Call::EnumDeviceInterfaces, member, set, true);
}

bool SimSystem::GetDeviceInterfaceDetail(DevInfoSet set, platform::DeviceInterfaceData* data,
                                         platform::DeviceInterfaceDetailData* detail,
                                         std::uint32_t detailSize, std::uint32_t* requiredSize) {
  constexpr Call kCall = Call::GetDeviceInterfaceDetail;
  std::uint32_t error = 0;
  if (Fails(kCall, &error)) return Fail(kCall, detailSize, set, error);
  if (Find(set, Kind::Snapshot) == nullptr)
    return Fail(kCall, detailSize, set, kErrorInvalidHandle);
  if (data == nullptr || data->size != sizeof(platform::DeviceInterfaceData)) {
    return Fail(kCall, detailSize, set, kErrorInvalidUserBuffer);
  }
  Reader* reader = ReaderOf(set, data->reserved);
  if (reader == nullptr) return Fail(kCall, detailSize, set, kErrorInvalidParameter);

  const std::size_t chars = reader->path.size() + (reader->terminatePath ? 1 : 0);
  const auto need =
      static_cast<std::uint32_t>(platform::kDetailPathOffset + (chars * sizeof(wchar_t)));
  if (detail == nullptr) {
    if (detailSize != 0) return Fail(kCall, detailSize, set, kErrorInvalidUserBuffer);
    if (requiredSize != nullptr) *requiredSize = reader->requiredSize.value_or(need);
    if (reader->sizeQuerySucceeds) return Record(kCall, detailSize, set, true);
    return Fail(kCall, detailSize, set, kErrorInsufficientBuffer);
  }
  const auto block = blocks_.find(detail);
  if (block == blocks_.end() || block->second < detailSize) {
    misuse_.emplace_back("detail buffer smaller than the " + std::to_string(detailSize) +
                         " bytes told");
    return Fail(kCall, detailSize, set, kErrorInvalidUserBuffer);
  }
  if (detailSize < platform::kDetailFixedSize || detail->size != platform::kDetailFixedSize) {
    misuse_.emplace_back("detail size field " + std::to_string(detail->size));
    return Fail(kCall, detailSize, set, kErrorInvalidUserBuffer);
  }
  if (detailSize < need) {
    if (requiredSize != nullptr) *requiredSize = need;
    return Fail(kCall, detailSize, set, kErrorInsufficientBuffer);
  }
  std::memcpy(static_cast<void*>(detail->devicePath), reader->path.c_str(),
              chars * sizeof(wchar_t));
  if (requiredSize != nullptr) *requiredSize = need;
  return Record(kCall, detailSize, set, true);
}

bool SimSystem::DestroyDeviceInfoList(DevInfoSet set) {
  std::uint32_t error = 0;
  if (Find(set, Kind::Snapshot) == nullptr)
    return Fail(Call::DestroyDeviceInfoList, 0, set, kErrorInvalidHandle);
  objects_.erase(Key(set));
  if (Fails(Call::DestroyDeviceInfoList, &error))
    return Fail(Call::DestroyDeviceInfoList, 0, set, error);
  return Record(Call::DestroyDeviceInfoList, 0, set, true);
}

Handle SimSystem::CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) {
  filesOpened_.push_back({path != nullptr ? path : L"", access, share, disposition, flags});
  std::uint32_t error = 0;
  if (Fails(Call::CreateFile, &error)) {
    Fail(Call::CreateFile, 0, nullptr, error);
    return platform::InvalidHandle();
  }
  for (std::size_t i = 0; path != nullptr && i < readers_.size(); ++i) {
    const Reader& reader = readers_[i];
    const bool gone = reader.leavesAtSnapshot >= 0 && snapshots_ >= reader.leavesAtSnapshot;
    if (!gone && reader.hasInterface && reader.path == path) {
      const Handle device = NewObject(Kind::Device, {i});
      Record(Call::CreateFile, 0, device, true);
      return device;
    }
  }
  Fail(Call::CreateFile, 0, nullptr, platform::kErrorFileNotFound);
  return platform::InvalidHandle();
}

Handle SimSystem::CreateEvent(bool manualReset, bool initialState) {
  eventsCreated_.push_back({manualReset, initialState});
  std::uint32_t error = 0;
  if (Fails(Call::CreateEvent, &error)) {
    Fail(Call::CreateEvent, 0, nullptr, error);
    return nullptr;
  }
  const Handle event = NewObject(Kind::Event, {});
  Record(Call::CreateEvent, 0, event, true);
  return event;
}

bool SimSystem::DeviceIoControl(Handle device, std::uint32_t code, const void* input,
                                std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                                std::uint32_t* bytesReturned, platform::Overlapped* overlapped) {
  constexpr Call kCall = Call::DeviceIoControl;
  requests_.push_back({code, inputSize, outputSize});
  std::uint32_t error = 0;
  if (Fails(kCall, &error)) return Fail(kCall, code, device, error);
  const Object* object = Find(device, Kind::Device);
  if (object == nullptr) return Fail(kCall, code, device, kErrorInvalidHandle);
  if (overlapped == nullptr || Find(overlapped->event, Kind::Event) == nullptr) {
    misuse_.emplace_back("DeviceIoControl on an overlapped device without an event to wait on");
    return Fail(kCall, code, device, kErrorInvalidParameter);
  }
  if (overlapped->internal != 0 || overlapped->internalHigh != 0 || overlapped->offset != 0 ||
      overlapped->offsetHigh != 0) {
    misuse_.emplace_back("DeviceIoControl with a used OVERLAPPED record");
  }
  if (queued_.contains(overlapped)) misuse_.emplace_back("OVERLAPPED record reused while queued");

  Reader& reader = readers_[object->readers.front()];
  reader.driver.received.emplace_back(code);
  const Reply reply =
      reader.driver.replies.contains(code) ? reader.driver.replies.at(code) : Reply{};
  // A request that is to fail changes nothing in the driver.
  std::uint32_t bytes = 0;
  std::uint32_t driverError = 0;
  bool ok = false;
  if (reply.failWith == 0 && (!reply.pending || reply.failAtWait == 0)) {
    ok = Answer(reader, code, input, inputSize, output, outputSize, &bytes, &driverError);
  } else {
    driverError = reply.failWith != 0 ? reply.failWith : reply.failAtWait;
  }
  if (ok && reply.bytes) bytes = *reply.bytes;

  if (reply.pending) {
    queued_[overlapped] = Queued{.device = device,
                                 .event = overlapped->event,
                                 .bytes = bytes,
                                 .failAtWait = ok ? 0 : driverError};
    lastError_ = kErrorIoPending;
    return Record(kCall, code, device, false);
  }
  if (!ok) return Fail(kCall, code, device, driverError);
  if (bytesReturned != nullptr) *bytesReturned = bytes;
  return Record(kCall, code, device, true);
}

bool SimSystem::GetOverlappedResult(Handle device, platform::Overlapped* overlapped,
                                    std::uint32_t* bytesReturned, bool wait) {
  constexpr Call kCall = Call::GetOverlappedResult;
  std::uint32_t error = 0;
  const auto it = queued_.find(overlapped);
  if (it == queued_.end() || it->second.device != device || Find(device, Kind::Device) == nullptr) {
    misuse_.emplace_back("GetOverlappedResult for no queued request");
    return Fail(kCall, 0, device, kErrorInvalidParameter);
  }
  if (!wait) misuse_.emplace_back("GetOverlappedResult without waiting");
  if (bytesReturned == nullptr)
    misuse_.emplace_back("GetOverlappedResult without a place for the count");
  const Queued queued = it->second;
  queued_.erase(it);
  if (Fails(kCall, &error)) return Fail(kCall, 0, device, error);
  if (queued.failAtWait != 0) return Fail(kCall, 0, device, queued.failAtWait);
  if (bytesReturned != nullptr) *bytesReturned = queued.bytes;
  return Record(kCall, queued.bytes, device, true);
}

bool SimSystem::CloseHandle(Handle handle) {
  std::uint32_t error = 0;
  const auto it = objects_.find(Key(handle));
  if (it == objects_.end() || it->second.kind == Kind::Snapshot) {
    return Fail(Call::CloseHandle, 0, handle, kErrorInvalidHandle);
  }
  if (it->second.kind == Kind::Device) {
    for (const auto& [ov, queued] : queued_) {
      if (queued.device == handle) misuse_.emplace_back("device closed with a request in flight");
    }
  }
  objects_.erase(it);
  // An injected failure still closes the handle, as CloseHandle may.
  if (Fails(Call::CloseHandle, &error)) return Fail(Call::CloseHandle, 0, handle, error);
  return Record(Call::CloseHandle, 0, handle, true);
}

void* SimSystem::Allocate(std::size_t size) {
  std::uint32_t error = 0;
  const auto recorded = static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
  if (Fails(Call::Allocate, &error) || size > allocationLimit_) {
    Record(Call::Allocate, recorded, nullptr, false);
    return nullptr;
  }
  void* block = std::malloc(size == 0 ? 1 : size);  // NOLINT(*-no-malloc,*-owning-memory)
  if (block == nullptr) {
    Record(Call::Allocate, recorded, nullptr, false);
    return nullptr;
  }
  std::memset(block, kHeapFill, size);
  blocks_[block] = size;
  Record(Call::Allocate, recorded, block, true);
  return block;
}

void SimSystem::Free(void* block) {
  const auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    misuse_.emplace_back("HeapFree of a block never allocated");
    Record(Call::Free, 0, block, false);
    return;
  }
  blocks_.erase(it);
  Record(Call::Free, 0, block, true);
  std::free(block);  // NOLINT(*-no-malloc,*-owning-memory)
}

}  // namespace drvflip::sim
