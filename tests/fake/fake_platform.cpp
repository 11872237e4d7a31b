#include "tests/fake/fake_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace fake {
namespace {

FakePlatform* g_fake = nullptr;

FakePlatform& F() { return *g_fake; }

void Record(const std::string& call) { F().calls.push_back(call); }

std::string FolderOf(const std::string& path) {
  size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

const os::Handle kHeap = reinterpret_cast<os::Handle>(0x4EA9);
const os::Handle kCursor = reinterpret_cast<os::Handle>(0xC0C0);
const os::Handle kNullBrush = reinterpret_cast<os::Handle>(0xB005);
const os::Handle kModule = reinterpret_cast<os::Handle>(0x400000);

}  // namespace

// The table's entries, as static functions with access to the fake's state.
struct Callbacks {
  static bool Refuse(size_t bytes) {
    FakePlatform& f = F();
    ++f.heapRequests;
    return (f.refuseFromRequest > 0 && f.heapRequests >= f.refuseFromRequest) ||
           bytes > f.refuseAbove;
  }

  static os::Handle GetProcessHeap() {
    Record("GetProcessHeap");
    return kHeap;
  }
  static void* HeapAlloc(os::Handle, os::Dword, size_t bytes) {
    Record("HeapAlloc " + std::to_string(bytes));
    if (Refuse(bytes)) return nullptr;
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p != nullptr && F().fillNewBlocks >= 0) std::memset(p, F().fillNewBlocks, bytes);
    if (p != nullptr) F().blocks_[p] = bytes;
    return p;
  }
  static void* HeapReAlloc(os::Handle, os::Dword, void* block, size_t bytes) {
    Record("HeapReAlloc " + std::to_string(bytes));
    auto it = F().blocks_.find(block);
    if (it == F().blocks_.end()) {
      ADD_FAILURE() << "HeapReAlloc of a block the heap does not hold";
      return nullptr;
    }
    if (Refuse(bytes)) return nullptr;
    void* q = std::realloc(block, bytes == 0 ? 1 : bytes);
    if (q == nullptr) return nullptr;
    F().blocks_.erase(it);
    F().blocks_[q] = bytes;
    return q;
  }
  static os::Bool HeapFree(os::Handle, os::Dword, void* block) {
    Record("HeapFree");
    auto it = F().blocks_.find(block);
    if (it == F().blocks_.end()) {
      ADD_FAILURE() << "HeapFree of a block the heap does not hold";
      return 0;
    }
    F().blocks_.erase(it);
    std::free(block);
    return 1;
  }

  static os::Dword GetModuleFileNameA(os::Handle, char* buffer, os::Dword size) {
    Record("GetModuleFileNameA");
    const std::string& path = F().modulePath;
    if (size == 0) return 0;
    if (path.size() + 1 > size) {
      std::memcpy(buffer, path.data(), size - 1);
      buffer[size - 1] = '\0';
      F().lastError_ = os::kErrorInsufficientBuffer;
      return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<os::Dword>(path.size());
  }
  static os::Bool SetCurrentDirectoryA(const char* path) {
    Record(std::string("SetCurrentDirectoryA ") + path);
    F().currentDirectory = path;
    return 1;
  }
  static os::Dword GetCurrentDirectoryA(os::Dword size, char* buffer) {
    const std::string& dir = F().currentDirectory;
    if (dir.size() + 1 > size) return static_cast<os::Dword>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<os::Dword>(dir.size());
  }

  static os::Dword GetACP() { return F().ansiCodePage; }
  static os::Bool IsDBCSLeadByteEx(os::Dword codePage, uint8_t byte) {
    if (codePage == os::kCodePageAnsi) codePage = F().ansiCodePage;
    return codePage == 936 && byte >= 0x81 && byte <= 0xFE;
  }
  // Latin-1 stands in for any single-byte ANSI code page; UTF-8 is exact.
  static int MultiByteToWideChar(os::Dword codePage, os::Dword flags, const char* text, int length,
                                 char16_t* wide, int wideLength) {
    if (codePage == os::kCodePageAnsi) codePage = F().ansiCodePage;
    if (length < 0) length = static_cast<int>(std::strlen(text)) + 1;
    // Under code page 936 a lead byte needs a trail byte (0x40..0xFE but
    // 0x7F); with MB_ERR_INVALID_CHARS a missing or wrong one fails the call.
    if (codePage == os::kCodePageGbk && (flags & os::kMbErrInvalidChars)) {
      const auto* b = reinterpret_cast<const unsigned char*>(text);
      for (int i = 0; i < length; ++i) {
        if (b[i] < 0x81 || b[i] > 0xFE) continue;
        if (i + 1 >= length || b[i + 1] < 0x40 || b[i + 1] == 0x7F || b[i + 1] == 0xFF) {
          F().lastError_ = os::kErrorNoUnicodeTranslation;
          return 0;
        }
        ++i;
      }
    }
    std::u16string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (int i = 0; i < length;) {
      if (codePage == os::kCodePageUtf8 && s[i] >= 0x80) {
        int n = s[i] >= 0xF0 ? 4 : s[i] >= 0xE0 ? 3 : 2;
        if (i + n > length) return 0;
        uint32_t c = s[i] & (0x3F >> (n - 1));
        for (int k = 1; k < n; ++k) c = (c << 6) | (s[i + k] & 0x3F);
        if (c >= 0x10000) {
          c -= 0x10000;
          out += static_cast<char16_t>(0xD800 + (c >> 10));
          out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
          out += static_cast<char16_t>(c);
        }
        i += n;
      } else {
        out += static_cast<char16_t>(s[i]);
        ++i;
      }
    }
    if (wideLength == 0) return static_cast<int>(out.size());
    if (static_cast<int>(out.size()) > wideLength) return 0;
    std::memcpy(wide, out.data(), out.size() * sizeof(char16_t));
    return static_cast<int>(out.size());
  }
  static int WideCharToMultiByte(os::Dword codePage, os::Dword, const char16_t* wide,
                                 int wideLength, char* text, int length, const char*,
                                 os::Bool*) {
    if (codePage == os::kCodePageAnsi) codePage = F().ansiCodePage;
    if (wideLength < 0) wideLength = static_cast<int>(std::char_traits<char16_t>::length(wide)) + 1;
    std::string out;
    for (int i = 0; i < wideLength; ++i) {
      uint32_t c = wide[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < wideLength) {
        c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
      }
      if (codePage != os::kCodePageUtf8 || c < 0x80) {
        out += static_cast<char>(c < 0x100 ? c : '?');
      } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    if (length == 0) return static_cast<int>(out.size());
    if (static_cast<int>(out.size()) > length) return 0;
    std::memcpy(text, out.data(), out.size());
    return static_cast<int>(out.size());
  }

  static bool NextEntry(FakePlatform::FindState& state, os::FindDataA* data) {
    if (state.next >= state.entries.size()) return false;
    const Entry& e = state.entries[state.next++];
    data->dwFileAttributes = e.attributes;
    std::memset(data->cFileName, 0, sizeof data->cFileName);
    std::strncpy(data->cFileName, e.name.c_str(), sizeof data->cFileName - 1);
    return true;
  }
  static os::Handle FindFirstFileA(const char* pattern, os::FindDataA* data) {
    Record(std::string("FindFirstFileA ") + pattern);
    if (auto error = F().listingErrors.find(pattern); error != F().listingErrors.end()) {
      F().lastError_ = error->second;
      return os::InvalidHandle();
    }
    auto it = F().listings.find(pattern);
    if (it == F().listings.end() || it->second.empty()) {
      F().lastError_ = os::kErrorFileNotFound;
      return os::InvalidHandle();
    }
    os::Handle h = F().NewHandle();
    FakePlatform::FindState& state = F().finds_[h];
    state.entries = it->second;
    NextEntry(state, data);
    ++F().openFinds;
    return h;
  }
  // The fake's listings carry every attribute, so both info levels give the
  // same answer and are recorded alike.
  static os::Handle FindFirstFileExA(const char* pattern, int, os::FindDataA* data, int, void*,
                                     os::Dword) {
    return FindFirstFileA(pattern, data);
  }
  static os::Bool FindNextFileA(os::Handle find, os::FindDataA* data) {
    Record("FindNextFileA");
    auto it = F().finds_.find(find);
    if (it == F().finds_.end()) {
      ADD_FAILURE() << "FindNextFileA on a handle that is not open";
      return 0;
    }
    if (!NextEntry(it->second, data)) {
      F().lastError_ = os::kErrorNoMoreFiles;
      return 0;
    }
    return 1;
  }
  static os::Bool FindClose(os::Handle find) {
    Record("FindClose");
    if (F().finds_.erase(find) == 0) {
      ADD_FAILURE() << "FindClose on a handle that is not open";
      return 0;
    }
    --F().openFinds;
    return 1;
  }

  static os::Handle CreateFileA(const char* path, os::Dword, os::Dword, os::SecurityAttributes*,
                                os::Dword disposition, os::Dword, os::Handle) {
    Record(std::string("CreateFileA ") + path);
    FakePlatform& f = F();
    std::string p = path;
    if (f.failCreate || f.folders.count(FolderOf(p)) == 0 || f.folders.count(p) != 0) {
      f.lastError_ = f.failCreate ? os::kErrorAccessDenied : 3;
      return os::InvalidHandle();
    }
    auto it = f.files.find(p);
    if (it == f.files.end() && disposition == os::kOpenExisting) {
      f.lastError_ = os::kErrorFileNotFound;
      return os::InvalidHandle();
    }
    if (it != f.files.end()) {
      if (disposition == os::kCreateNew) {
        f.lastError_ = os::kErrorFileExists;
        return os::InvalidHandle();
      }
      if (it->second.openElsewhere) {
        f.lastError_ = os::kErrorSharingViolation;
        return os::InvalidHandle();
      }
      if (it->second.attributes & (os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem)) {
        f.lastError_ = os::kErrorAccessDenied;
        return os::InvalidHandle();
      }
    }
    File& file = f.files[p];
    if (disposition != os::kOpenExisting) {
      file.bytes.clear();
      file.attributes = os::kAttrArchive;
    }
    os::Handle h = f.NewHandle();
    f.fileHandles_[h] = FakePlatform::OpenFile{p, {}};
    ++f.openFiles;
    return h;
  }
  static os::Bool WriteFile(os::Handle file, const void* bytes, os::Dword count,
                            os::Dword* written, void*) {
    Record("WriteFile " + std::to_string(count));
    FakePlatform& f = F();
    auto it = f.fileHandles_.find(file);
    if (it == f.fileHandles_.end()) {
      ADD_FAILURE() << "WriteFile on a handle that is not open";
      return 0;
    }
    ++f.writeCalls;
    os::Dword n = count;
    bool fail = f.shortWriteAt > 0 && f.writeCalls == f.shortWriteAt;
    if (fail) n = count / 2;
    f.files[it->second.path].bytes.append(static_cast<const char*>(bytes), n);
    if (written != nullptr) *written = n;
    if (fail) {
      f.lastError_ = os::kErrorDiskFull;
      return 0;
    }
    return 1;
  }
  static os::Bool FlushFileBuffers(os::Handle file) {
    Record("FlushFileBuffers");
    if (F().fileHandles_.count(file) == 0) return 0;
    return F().failFlush ? 0 : 1;
  }
  static os::Bool CloseHandle(os::Handle object) {
    Record("CloseHandle");
    FakePlatform& f = F();
    if (f.fileHandles_.erase(object) == 0) {
      ADD_FAILURE() << "CloseHandle on a handle that is not open";
      return 0;
    }
    --f.openFiles;
    if (f.failClose) {
      f.lastError_ = os::kErrorDiskFull;
      return 0;
    }
    return 1;
  }
  static os::Dword GetFileAttributesA(const char* path) {
    Record(std::string("GetFileAttributesA ") + path);
    FakePlatform& f = F();
    if (f.folders.count(path) != 0) return os::kAttrDirectory;
    auto it = f.files.find(path);
    if (it == f.files.end()) {
      f.lastError_ = os::kErrorFileNotFound;
      return os::kInvalidFileAttributes;
    }
    return it->second.attributes;
  }
  static os::Bool MoveFileExA(const char* from, const char* to, os::Dword flags) {
    Record(std::string("MoveFileExA ") + from + " " + to);
    FakePlatform& f = F();
    auto src = f.files.find(from);
    if (f.failMove || src == f.files.end()) {
      f.lastError_ = f.failMove ? os::kErrorAccessDenied : os::kErrorFileNotFound;
      return 0;
    }
    auto dst = f.files.find(to);
    if (dst != f.files.end()) {
      if (!(flags & os::kMoveReplaceExisting)) {
        f.lastError_ = os::kErrorAlreadyExists;
        return 0;
      }
      if (dst->second.openElsewhere || (dst->second.attributes & os::kAttrReadOnly)) {
        f.lastError_ = dst->second.openElsewhere ? os::kErrorSharingViolation
                                                 : os::kErrorAccessDenied;
        return 0;
      }
    }
    File moved = src->second;
    f.files.erase(src);
    f.files[to] = moved;
    return 1;
  }
  static os::Bool DeleteFileA(const char* path) {
    Record(std::string("DeleteFileA ") + path);
    if (F().files.erase(path) == 0) {
      F().lastError_ = os::kErrorFileNotFound;
      return 0;
    }
    return 1;
  }
  static os::Dword GetLastError() { return F().lastError_; }

  static os::Dword GetCurrentThreadId() { return F().threadId; }
  static os::Dword GetCurrentProcessId() { return F().processId; }
  static void ExitProcess(uint32_t code) {
    Record("ExitProcess " + std::to_string(code));
    throw FakeExit{code};
  }
  static os::Dword SetErrorMode(os::Dword mode) {
    Record("SetErrorMode " + std::to_string(mode));
    os::Dword old = F().errorMode;
    F().errorMode = mode;
    return old;
  }
  static void fpreset() { Record("fpreset"); }
  static void DebugBreak() { Record("DebugBreak"); }
  static int32_t OleInitialize(void*) {
    Record("OleInitialize");
    return F().oleDepth++ == 0 ? 0 : 1;
  }
  static void OleUninitialize() {
    Record("OleUninitialize");
    --F().oleDepth;
  }

  static os::Handle LoadCursorA(os::Handle, uintptr_t resource) {
    Record("LoadCursorA " + std::to_string(resource));
    return kCursor;
  }
  static os::Handle GetStockObject(int object) {
    Record("GetStockObject " + std::to_string(object));
    return kNullBrush;
  }
  static uint16_t RegisterClassA(const os::WndClassA* cls) {
    Record(std::string("RegisterClassA ") + cls->lpszClassName);
    if (!F().classes.insert(cls->lpszClassName).second) return 0;
    classProcs()[cls->lpszClassName] = cls->lpfnWndProc;
    return static_cast<uint16_t>(0xC000 + F().classes.size());
  }
  static os::Bool UnregisterClassA(const char* name, os::Handle) {
    Record(std::string("UnregisterClassA ") + name);
    return F().classes.erase(name) != 0 ? 1 : 0;
  }
  static std::map<std::string, os::WndProc>& classProcs() {
    static std::map<std::string, os::WndProc> procs;
    return procs;
  }
  static os::Handle CreateWindowExA(os::Dword exStyle, const char* className, const char*,
                                    os::Dword style, int, int, int, int, os::Handle, os::Handle,
                                    os::Handle, void*) {
    Record("CreateWindowExA " + std::to_string(exStyle) + " " + std::to_string(style));
    if (F().classes.count(className) == 0) return nullptr;
    os::Handle h = F().NewHandle();
    F().windows[h] = FakePlatform::Window{classProcs()[className], className};
    return h;
  }
  static os::Bool IsWindow(os::Handle hwnd) {
    Record("IsWindow");
    return F().windows.count(hwnd) != 0 ? 1 : 0;
  }
  static intptr_t SendMessageA(os::Handle hwnd, uint32_t msg, uintptr_t w, intptr_t l) {
    Record("SendMessageA " + std::to_string(msg));
    auto it = F().windows.find(hwnd);
    if (it == F().windows.end()) return 0;
    return it->second.proc(hwnd, msg, w, l);
  }
  static os::Bool PostMessageA(os::Handle hwnd, uint32_t msg, uintptr_t w, intptr_t l) {
    Record("PostMessageA " + std::to_string(msg));
    F().queue.push_back(os::Msg{hwnd, msg, w, l, 0, 0, 0});
    return 1;
  }
  static void PostQuitMessage(int code) {
    Record("PostQuitMessage " + std::to_string(code));
    F().queue.push_back(os::Msg{nullptr, os::kWmQuit, static_cast<uintptr_t>(code), 0, 0, 0, 0});
  }
  static os::Bool PeekMessageA(os::Msg* msg, os::Handle, uint32_t, uint32_t, uint32_t remove) {
    Record("PeekMessageA");
    if (F().queue.empty()) return 0;
    *msg = F().queue.front();
    if (remove & os::kPmRemove) F().queue.erase(F().queue.begin());
    return 1;
  }
  static os::Bool GetMessageA(os::Msg* msg, os::Handle, uint32_t, uint32_t) {
    Record("GetMessageA");
    if (F().queue.empty()) {
      ADD_FAILURE() << "GetMessageA would wait for ever on an empty queue";
      *msg = os::Msg{nullptr, os::kWmQuit, 0, 0, 0, 0, 0};
      return 0;
    }
    *msg = F().queue.front();
    F().queue.erase(F().queue.begin());
    return msg->message == os::kWmQuit ? 0 : 1;
  }
  static os::Bool TranslateMessage(const os::Msg*) { return 0; }
  static intptr_t DispatchMessageA(const os::Msg* msg) {
    Record("DispatchMessageA " + std::to_string(msg->message));
    auto it = F().windows.find(msg->hwnd);
    if (it == F().windows.end()) return 0;
    return it->second.proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  }
  static intptr_t DefWindowProcA(os::Handle, uint32_t, uintptr_t, intptr_t) { return 0; }
  static os::Bool DestroyWindow(os::Handle hwnd) {
    Record("DestroyWindow");
    auto it = F().windows.find(hwnd);
    if (it == F().windows.end()) return 0;
    os::WndProc proc = it->second.proc;
    proc(hwnd, os::kWmDestroy, 0, 0);
    F().windows.erase(hwnd);
    return 1;
  }
  static os::Bool DestroyIcon(os::Handle icon) {
    Record("DestroyIcon");
    return icon != nullptr ? 1 : 0;
  }
  static os::Handle GetModuleHandleA(const char*) { return kModule; }
  static os::Bool FreeLibrary(os::Handle module) {
    Record("FreeLibrary");
    F().loadedLibraries.erase(module);
    return 1;
  }
  static os::Handle LoadLibraryA(const char* name) {
    Record(std::string("LoadLibraryA ") + name);
    if (F().libraries.count(name) == 0) {
      F().lastError_ = os::kErrorModNotFound;
      return nullptr;
    }
    os::Handle h = F().NewHandle();
    F().loadedLibraries[h] = name;
    return h;
  }
  static void* GetProcAddress(os::Handle module, const char* name) {
    Record(std::string("GetProcAddress ") + name);
    auto lib = F().loadedLibraries.find(module);
    if (lib == F().loadedLibraries.end()) return nullptr;
    const auto& functions = F().libraries[lib->second];
    auto fn = functions.find(name);
    return fn == functions.end() ? nullptr : fn->second;
  }
  static int WSACleanup() {
    Record("WSACleanup");
    return 0;
  }
  static os::Dword WaitForSingleObject(os::Handle, os::Dword) {
    Record("WaitForSingleObject");
    return 0;
  }
  static int MessageBoxA(os::Handle, const char* text, const char* caption, os::Dword style) {
    Record("MessageBoxA");
    F().boxes.push_back(MessageBox{text != nullptr ? text : "", caption != nullptr ? caption : "",
                                   style});
    return 1;
  }
};

FakePlatform::FakePlatform() {
  using C = Callbacks;
  table_.GetProcessHeap = C::GetProcessHeap;
  table_.HeapAlloc = C::HeapAlloc;
  table_.HeapReAlloc = C::HeapReAlloc;
  table_.HeapFree = C::HeapFree;
  table_.GetModuleFileNameA = C::GetModuleFileNameA;
  table_.SetCurrentDirectoryA = C::SetCurrentDirectoryA;
  table_.GetCurrentDirectoryA = C::GetCurrentDirectoryA;
  table_.GetACP = C::GetACP;
  table_.IsDBCSLeadByteEx = C::IsDBCSLeadByteEx;
  table_.MultiByteToWideChar = C::MultiByteToWideChar;
  table_.WideCharToMultiByte = C::WideCharToMultiByte;
  table_.FindFirstFileA = C::FindFirstFileA;
  table_.FindFirstFileExA = C::FindFirstFileExA;
  table_.FindNextFileA = C::FindNextFileA;
  table_.FindClose = C::FindClose;
  table_.CreateFileA = C::CreateFileA;
  table_.WriteFile = C::WriteFile;
  table_.FlushFileBuffers = C::FlushFileBuffers;
  table_.CloseHandle = C::CloseHandle;
  table_.GetFileAttributesA = C::GetFileAttributesA;
  table_.MoveFileExA = C::MoveFileExA;
  table_.DeleteFileA = C::DeleteFileA;
  table_.GetLastError = C::GetLastError;
  table_.GetCurrentThreadId = C::GetCurrentThreadId;
  table_.GetCurrentProcessId = C::GetCurrentProcessId;
  table_.ExitProcess = C::ExitProcess;
  table_.SetErrorMode = C::SetErrorMode;
  table_.fpreset = C::fpreset;
  table_.DebugBreak = C::DebugBreak;
  table_.OleInitialize = C::OleInitialize;
  table_.OleUninitialize = C::OleUninitialize;
  table_.LoadCursorA = C::LoadCursorA;
  table_.GetStockObject = C::GetStockObject;
  table_.RegisterClassA = C::RegisterClassA;
  table_.UnregisterClassA = C::UnregisterClassA;
  table_.CreateWindowExA = C::CreateWindowExA;
  table_.IsWindow = C::IsWindow;
  table_.SendMessageA = C::SendMessageA;
  table_.PostMessageA = C::PostMessageA;
  table_.PostQuitMessage = C::PostQuitMessage;
  table_.PeekMessageA = C::PeekMessageA;
  table_.GetMessageA = C::GetMessageA;
  table_.TranslateMessage = C::TranslateMessage;
  table_.DispatchMessageA = C::DispatchMessageA;
  table_.DefWindowProcA = C::DefWindowProcA;
  table_.DestroyWindow = C::DestroyWindow;
  table_.DestroyIcon = C::DestroyIcon;
  table_.GetModuleHandleA = C::GetModuleHandleA;
  table_.FreeLibrary = C::FreeLibrary;
  table_.WSACleanup = C::WSACleanup;
  table_.WaitForSingleObject = C::WaitForSingleObject;
  table_.MessageBoxA = C::MessageBoxA;
  table_.LoadLibraryA = C::LoadLibraryA;
  table_.GetProcAddress = C::GetProcAddress;

  previousFake_ = g_fake;
  g_fake = this;
  previous_ = os::InstallPlatform(&table_);
}

FakePlatform::~FakePlatform() {
  os::InstallPlatform(previous_);
  g_fake = previousFake_;
  for (auto& [block, size] : blocks_) std::free(const_cast<void*>(block));
}

FakePlatform& FakePlatform::Current() { return *g_fake; }

long FakePlatform::BlockSize(const void* p) const {
  auto it = blocks_.find(p);
  return it == blocks_.end() ? -1 : static_cast<long>(it->second);
}

int FakePlatform::CallCount(const std::string& name) const {
  int n = 0;
  for (const std::string& c : calls) {
    if (c == name || c.rfind(name + " ", 0) == 0) ++n;
  }
  return n;
}

int FakePlatform::IndexOf(const std::string& prefix) const {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

uint32_t ExpectExit(const std::function<void()>& body) {
  try {
    body();
  } catch (const FakeExit& e) {
    return e.code;
  }
  ADD_FAILURE() << "expected the process to end";
  return 0xDEADBEEFu;
}

}  // namespace fake
