#include "platform/win32/win32_nt.h"

#include <winternl.h>

#include <cstring>
#include <memory>

#include "platform/path_parts.h"
#include "platform/win32/win32_text.h"

namespace os::win32 {
namespace {

constexpr NtStatus kStatusNoMoreFiles = static_cast<NtStatus>(0x80000006);
constexpr NtStatus kStatusNoSuchFile = static_cast<NtStatus>(0xC000000F);
constexpr NtStatus kStatusInvalidName = static_cast<NtStatus>(0xC0000033);
constexpr NtStatus kStatusNoMemory = static_cast<NtStatus>(0xC0000017);

using CreateFileCall = NtStatus(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                        LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
using QueryAttributesCall = NtStatus(NTAPI*)(OBJECT_ATTRIBUTES*, FILE_BASIC_INFORMATION*);
using QueryDirectoryCall = NtStatus(NTAPI*)(HANDLE, HANDLE, void*, void*, IO_STATUS_BLOCK*, void*,
                                            ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                            UNICODE_STRING*, BOOLEAN);
using SetInformationCall = NtStatus(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG,
                                            FILE_INFORMATION_CLASS);
using StatusToErrorCall = ULONG(NTAPI*)(NtStatus);

struct NtCalls {
  CreateFileCall createFile;
  QueryAttributesCall queryAttributes;
  QueryDirectoryCall queryDirectory;
  SetInformationCall setInformation;
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
                   Find<StatusToErrorCall>(ntdll, "RtlNtStatusToDosError")};
  }();
  return calls;
}

// The object name of name in folder: the name itself beneath the folder's
// handle, or the NT form (\??\) of the full path where the folder has none.
class ObjectName {
 public:
  ObjectName(const FolderHandle& folder, std::string_view name) {
    if (folder.native() != -1) {
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
  ObjectName object(folder, name);
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
  for (bool first = true;; first = false) {
    IO_STATUS_BLOCK io{};
    const NtStatus status =
        Nt().queryDirectory(folder, nullptr, nullptr, nullptr, &io, buffer.get(), kBytes,
                            FileFullDirectoryInformation, FALSE, nullptr, first ? TRUE : FALSE);
    if (status == kStatusNoMoreFiles || (first && status == kStatusNoSuchFile)) return 0;
    if (status < 0) return status;
    const auto* at = reinterpret_cast<const unsigned char*>(buffer.get());
    for (;;) {
      const auto* e = reinterpret_cast<const FILE_FULL_DIR_INFORMATION*>(at);
      const size_t units = e->FileNameLength / sizeof(wchar_t);
      const bool dots = (units == 1 && e->FileName[0] == L'.') ||
                        (units == 2 && e->FileName[0] == L'.' && e->FileName[1] == L'.');
      if (dots) {
        *sawDots = true;
      } else {
        // kAttrLink is FILE_ATTRIBUTE_REPARSE_POINT: a junction, a mounted
        // folder or a symbolic link.
        entries->push_back({Utf8(e->FileName, units), e->FileAttributes});
      }
      if (e->NextEntryOffset == 0) break;
      at += e->NextEntryOffset;
    }
  }
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
