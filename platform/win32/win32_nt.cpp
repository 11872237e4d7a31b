#include "platform/win32/win32_nt.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "platform/path_parts.h"
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_text.h"

namespace os::win32 {
namespace {

constexpr NtStatus kStatusNoMoreFiles = static_cast<NtStatus>(0x80000006);
constexpr NtStatus kStatusNoSuchFile = static_cast<NtStatus>(0xC000000F);
constexpr NtStatus kStatusInvalidName = static_cast<NtStatus>(0xC0000033);
constexpr NtStatus kStatusNoMemory = static_cast<NtStatus>(0xC0000017);
constexpr NtStatus kStatusInvalidInfoClass = static_cast<NtStatus>(0xC0000003);
constexpr NtStatus kStatusInvalidParameter = static_cast<NtStatus>(0xC000000D);
constexpr NtStatus kStatusNotSupported = static_cast<NtStatus>(0xC00000BB);

// The information classes beyond those winternl.h names.
constexpr auto kFullDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(2);
constexpr auto kIdFullDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(38);
constexpr auto kInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);

// FILE_ID_FULL_DIR_INFORMATION, as the DDK documents it; the entries of
// FileFullDirectoryInformation are the same up to EaSize.
struct IdFullDirEntry {
  ULONG NextEntryOffset;
  ULONG FileIndex;
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER EndOfFile;
  LARGE_INTEGER AllocationSize;
  ULONG FileAttributes;
  ULONG FileNameLength;
  ULONG EaSize;
};
struct IdFullDirTail {
  LARGE_INTEGER FileId;
  WCHAR FileName[1];
};
// FileFullDirectoryInformation's name follows EaSize at once; the file
// reference is 8-aligned after it.
constexpr size_t kFullNameOffset = offsetof(IdFullDirEntry, EaSize) + sizeof(ULONG);
constexpr size_t kIdFullIdOffset = (kFullNameOffset + 7) & ~size_t{7};
static_assert(kFullNameOffset == 68 && kIdFullIdOffset == 72);

using CreateFileCall = NtStatus(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                        LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
using QueryAttributesCall = NtStatus(NTAPI*)(OBJECT_ATTRIBUTES*, FILE_BASIC_INFORMATION*);
using QueryDirectoryCall = NtStatus(NTAPI*)(HANDLE, HANDLE, void*, void*, IO_STATUS_BLOCK*, void*,
                                            ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                            UNICODE_STRING*, BOOLEAN);
using SetInformationCall = NtStatus(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG,
                                            FILE_INFORMATION_CLASS);
using QueryInformationCall = NtStatus(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG,
                                              FILE_INFORMATION_CLASS);
using StatusToErrorCall = ULONG(NTAPI*)(NtStatus);

struct NtCalls {
  CreateFileCall createFile;
  QueryAttributesCall queryAttributes;
  QueryDirectoryCall queryDirectory;
  SetInformationCall setInformation;
  QueryInformationCall queryInformation;
  StatusToErrorCall statusToError;
};

template <typename Call>
Call Find(HMODULE ntdll, const char* name) {
  return reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
}

// Every Windows NT has these.
const NtCalls& Nt() {
  static const NtCalls calls = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return NtCalls{Find<CreateFileCall>(ntdll, "NtCreateFile"),
                   Find<QueryAttributesCall>(ntdll, "NtQueryAttributesFile"),
                   Find<QueryDirectoryCall>(ntdll, "NtQueryDirectoryFile"),
                   Find<SetInformationCall>(ntdll, "NtSetInformationFile"),
                   Find<QueryInformationCall>(ntdll, "NtQueryInformationFile"),
                   Find<StatusToErrorCall>(ntdll, "RtlNtStatusToDosError")};
  }();
  return calls;
}

// The object name of name in folder: the name itself beneath the folder's
// handle, or the NT form (\??\) of the full path where the folder has none
// or byPath asks for it.
class ObjectName {
 public:
  ObjectName(const FolderHandle& folder, std::string_view name, bool byPath = false) {
    if (folder.native() != -1 && !byPath) {
      root_ = reinterpret_cast<HANDLE>(folder.native());
      name_ = Wide(name);
    } else {
      WideBuffer path;
      if (SystemPath(JoinPath(folder.path(), name).c_str(), &path)) name_ = path.data();
      // \\?\ and \\.\ are the Win32 forms of NT's \??\.
      if (name_.size() >= 4 && name_[0] == L'\\' && name_[1] == L'\\') name_.replace(0, 4, L"\\??\\");
    }
    const size_t bytes = name_.size() * sizeof(wchar_t);
    valid_ = !name_.empty() && bytes < 0xFFFF;
    string_.Length = string_.MaximumLength = static_cast<USHORT>(valid_ ? bytes : 0);
    string_.Buffer = name_.data();
    std::memset(&attributes_, 0, sizeof attributes_);
    attributes_.Length = sizeof attributes_;
    attributes_.RootDirectory = root_;
    attributes_.ObjectName = &string_;
    attributes_.Attributes = OBJ_CASE_INSENSITIVE;
  }
  ObjectName(const ObjectName&) = delete;
  ObjectName& operator=(const ObjectName&) = delete;

  bool valid() const { return valid_; }
  OBJECT_ATTRIBUTES* attributes() { return &attributes_; }
  const std::wstring& name() const { return name_; }
  HANDLE root() const { return root_; }

 private:
  HANDLE root_ = nullptr;
  std::wstring name_;
  bool valid_ = false;
  UNICODE_STRING string_{};
  OBJECT_ATTRIBUTES attributes_;
};

}  // namespace

Dword ErrorOfStatus(NtStatus status) {
  if (status == kStatusObjectNameCollision) return kErrorFileExists;
  return Nt().statusToError(status);
}

NtStatus OpenIn(const FolderHandle& folder, std::string_view name, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options, HANDLE* opened) {
  ObjectName object(folder, name);
  if (!object.valid()) return kStatusInvalidName;
  IO_STATUS_BLOCK io{};
  *opened = INVALID_HANDLE_VALUE;
  HANDLE h = nullptr;
  const NtStatus status =
      Nt().createFile(&h, access | SYNCHRONIZE, object.attributes(), &io, nullptr,
                      FILE_ATTRIBUTE_NORMAL, share, disposition, options | kOpenSynchronous,
                      nullptr, 0);
  if (status >= 0) *opened = h;
  return status < 0 ? status : 0;
}

NtStatus AttributesIn(const FolderHandle& folder, std::string_view name, DWORD* attributes) {
  // Wine finds no name relative to a handle here (STATUS_OBJECT_NAME_NOT_FOUND
  // for every name), and shows a link as a reparse point by its path alone.
  ObjectName object(folder, name, UnderWine());
  if (!object.valid()) return kStatusInvalidName;
  FILE_BASIC_INFORMATION info{};
  const NtStatus status = Nt().queryAttributes(object.attributes(), &info);
  if (status < 0) return status;
  *attributes = info.FileAttributes;
  return 0;
}

NtStatus ListOpen(HANDLE folder, std::vector<ListedEntry>* entries, bool* sawDots) {
  entries->clear();
  *sawDots = false;
  // Room for some 500 entries of usual names a call.
  constexpr ULONG kBytes = 65536;
  const std::unique_ptr<LONGLONG[]> buffer(new (std::nothrow) LONGLONG[kBytes / sizeof(LONGLONG)]);
  if (!buffer) return kStatusNoMemory;
  // With each entry's file reference where the file system gives it; the
  // plain full listing where it does not (some network file systems).
  FILE_INFORMATION_CLASS level = kIdFullDirectoryInformation;
  for (bool first = true;; first = false) {
    IO_STATUS_BLOCK io{};
    NtStatus status = Nt().queryDirectory(folder, nullptr, nullptr, nullptr, &io, buffer.get(),
                                          kBytes, level, FALSE, nullptr, first ? TRUE : FALSE);
    if (first && (status == kStatusInvalidInfoClass || status == kStatusNotSupported ||
                  status == kStatusInvalidParameter)) {
      level = kFullDirectoryInformation;
      status = Nt().queryDirectory(folder, nullptr, nullptr, nullptr, &io, buffer.get(), kBytes,
                                   level, FALSE, nullptr, TRUE);
    }
    if (status == kStatusNoMoreFiles || (first && status == kStatusNoSuchFile)) return 0;
    if (status < 0) return status;
    const bool withId = level == kIdFullDirectoryInformation;
    const auto* at = reinterpret_cast<const unsigned char*>(buffer.get());
    for (;;) {
      const auto* e = reinterpret_cast<const IdFullDirEntry*>(at);
      const auto* tail = reinterpret_cast<const IdFullDirTail*>(at + kIdFullIdOffset);
      const auto* name =
          withId ? tail->FileName : reinterpret_cast<const WCHAR*>(at + kFullNameOffset);
      const size_t units = e->FileNameLength / sizeof(wchar_t);
      const bool dots = (units == 1 && name[0] == L'.') ||
                        (units == 2 && name[0] == L'.' && name[1] == L'.');
      if (dots) {
        *sawDots = true;
      } else {
        // kAttrLink is FILE_ATTRIBUTE_REPARSE_POINT: a junction, a mounted
        // folder or a symbolic link.
        entries->push_back({Utf8(name, units), e->FileAttributes,
                            withId ? static_cast<uint64_t>(tail->FileId.QuadPart) : 0});
      }
      if (e->NextEntryOffset == 0) break;
      at += e->NextEntryOffset;
    }
  }
}

NtStatus FileIdOf(HANDLE file, uint64_t* id) {
  LARGE_INTEGER index{};  // FILE_INTERNAL_INFORMATION
  IO_STATUS_BLOCK io{};
  const NtStatus status =
      Nt().queryInformation(file, &io, &index, sizeof index, kInternalInformation);
  if (status < 0) return status;
  *id = static_cast<uint64_t>(index.QuadPart);
  return 0;
}

NtStatus RenameInto(HANDLE file, const FolderHandle& folder, std::string_view name) {
  ObjectName object(folder, name);
  if (!object.valid()) return kStatusInvalidName;
  const std::wstring& target = object.name();
  const size_t size = sizeof(FILE_RENAME_INFORMATION) + target.size() * sizeof(wchar_t);
  const std::unique_ptr<LONGLONG[]> buffer(
      new (std::nothrow) LONGLONG[size / sizeof(LONGLONG) + 1]());
  if (!buffer) return kStatusNoMemory;
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.get());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = object.root();
  rename->FileNameLength = static_cast<ULONG>(target.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, target.data(), target.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io{};
  const NtStatus status = Nt().setInformation(file, &io, rename, static_cast<ULONG>(size),
                                              FileRenameInformation);
  return status < 0 ? status : 0;
}

}  // namespace os::win32
