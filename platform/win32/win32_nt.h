// The NT calls the folder access makes on names relative to an open
// folder's handle (ZwCreateFile's OBJECT_ATTRIBUTES.RootDirectory and the
// like), so that a name is looked up in the folder itself and never again
// from the drive's root; reached through GetProcAddress.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_access.h"

namespace os::win32 {

using NtStatus = LONG;

// Some NTSTATUS values the back-end tells apart.
constexpr NtStatus kStatusObjectNameCollision = static_cast<NtStatus>(0xC0000035);
constexpr NtStatus kStatusFileIsADirectory = static_cast<NtStatus>(0xC00000BA);
constexpr NtStatus kStatusNotADirectory = static_cast<NtStatus>(0xC0000103);

// NtCreateFile's create options the back-end uses.
constexpr ULONG kOpenDirectory = 0x1;          // FILE_DIRECTORY_FILE
constexpr ULONG kOpenSynchronous = 0x20;       // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kOpenNonDirectory = 0x40;      // FILE_NON_DIRECTORY_FILE
constexpr ULONG kOpenForBackup = 0x4000;       // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kOpenReparsePoint = 0x200000;  // FILE_OPEN_REPARSE_POINT
// NtCreateFile's dispositions.
constexpr ULONG kDispositionOpen = 1;    // FILE_OPEN
constexpr ULONG kDispositionCreate = 2;  // FILE_CREATE

// The Win32 error of a status, as the Win32 calls report it.
Dword ErrorOfStatus(NtStatus status);

// Opens name in the open folder (its handle; -1: by the folder's path).
// Names are matched in any case, as CreateFileW matches them. 0 or the
// status.
NtStatus OpenIn(const FolderHandle& folder, std::string_view name, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options, HANDLE* opened);

// The attribute bits of name in the folder, of a link itself. Under Wine by
// the name's full path, the only way Wine answers.
NtStatus AttributesIn(const FolderHandle& folder, std::string_view name, DWORD* attributes);

// Lists an open folder from its start, . and .. left out, each entry with
// its file reference where the file system gives one. 0 or the status (a
// folder with nothing at all in it lists nothing).
NtStatus ListOpen(HANDLE folder, std::vector<ListedEntry>* entries, bool* sawDots);

// The file reference of an open file or folder (FileInternalInformation),
// the number its folder's listing gives it.
NtStatus FileIdOf(HANDLE file, uint64_t* id);

// Renames the open file to name in the folder (-1: by the folder's path),
// over a file of that name.
NtStatus RenameInto(HANDLE file, const FolderHandle& folder, std::string_view name);

}  // namespace os::win32
