// Names and paths of the Win32 back-end. The seam's narrow texts are UTF-8;
// Windows is asked in UTF-16 (the W functions), so every name reaches the
// runtime exactly as the file system holds it, whatever the ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/wide_text.h"

namespace os::win32 {

// The longest path Windows takes, in UTF-16 units with the terminator.
constexpr size_t kLongestPath = 32768;

// The conversions of the seam's public header, under the names the
// back-end has always used.
using os::kNotUtf8;
using os::Utf8;
using os::Utf8ToWide;
using os::Wide;
using os::WideToUtf8;

// Memory for a buffer from the process heap (or what a test installed).
void* AllocateBuffer(size_t bytes);

// A run of T: inline room for the usual short text, the process heap for a
// longer one. A failed allocation ends the run through os::OutOfMemory, as
// the runtime's own do.
template <typename T, size_t kInline>
class Buffer {
 public:
  Buffer() = default;
  ~Buffer() {
    if (data_ != inline_) ::HeapFree(::GetProcessHeap(), 0, data_);
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  T* data() { return data_; }
  const T* data() const { return data_; }
  size_t capacity() const { return capacity_; }

  // Room for count elements; what the buffer held is not kept.
  T* Reserve(size_t count) {
    if (count <= capacity_) return data_;
    if (count > SIZE_MAX / sizeof(T)) OutOfMemory(SIZE_MAX);
    const size_t bytes = count * sizeof(T);
    void* block = AllocateBuffer(bytes);
    if (block == nullptr) OutOfMemory(bytes);
    if (data_ != inline_) ::HeapFree(::GetProcessHeap(), 0, data_);
    data_ = static_cast<T*>(block);
    capacity_ = count;
    return data_;
  }

 private:
  T inline_[kInline];
  T* data_ = inline_;
  size_t capacity_ = kInline;
};

using WideBuffer = Buffer<wchar_t, MAX_PATH + 16>;

// The UTF-16 form of a UTF-8 text, terminated, as it stands: for a name the
// system looks up itself (a module's), which no path form may change. False,
// with the last error set, when text is not UTF-8.
bool WideText(const char* text, WideBuffer* out);

// The system's form of a path the runtime gives: UTF-16, absolute, behind
// \\?\ (\\?\UNC\ for a share), which every W function takes up to 32,767
// units and without changing a name: one that ends in a dot or a space, or
// a reserved one such as aux.xml, reaches the file system exactly. '/' is
// taken as '\', "." and ".." are resolved here, and a relative path starts
// at the current folder (or drive). \\?\ and \\.\ paths pass as they are.
// False, with the last error set, when path is not UTF-8 or too long.
bool SystemPath(const char* path, WideBuffer* out);

}  // namespace os::win32
