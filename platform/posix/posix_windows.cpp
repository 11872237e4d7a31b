// Windows and message queues of the POSIX back-end. There is no display: a
// window is an entry that has a procedure and an owner thread, and each thread
// has its own queue of posted messages and of messages other threads sent it.
// A message sent to a window of the calling thread calls its procedure
// directly; one sent to another thread's window waits until that thread
// retrieves its messages (PeekMessageA or GetMessageA), as on Windows.
//
// All of it lives in one object that is never destroyed: the runtime's
// process-wide object cleans up in its destructor at process exit, after
// ordinary static objects may already be gone.
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/posix_internal.h"

namespace os::posix {
namespace {

constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQueryEndSession = 0x0011;
constexpr uint32_t kWmNcCreate = 0x0081;
constexpr uint32_t kWmNcDestroy = 0x0082;
constexpr Dword kErrorWindowOfOtherThread = 1408;
constexpr Dword kErrorResourceNameNotFound = 1814;
const Handle kThreadMessagesOnly = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));
const Handle kMessageOnlyParent = reinterpret_cast<Handle>(static_cast<intptr_t>(-3));

struct SentMessage {
  Handle hwnd;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  bool done = false;
  intptr_t result = 0;
};

struct ThreadQueue {
  std::deque<Msg> posted;
  std::deque<SentMessage*> sent;  // owned by the waiting senders
  bool quit = false;
  int quitCode = 0;
};

struct WindowClass {
  std::string name;
  WndProc proc;
  uint16_t atom;
  int windows = 0;
};

struct Window {
  WndProc proc;
  Dword thread;
  std::string classKey;
  bool destroying = false;
};

struct WindowSystem {
  BackEndMutex mutex;
  // Signalled whenever a queue gets a message or a sent message is answered.
  std::condition_variable_any changed;
  std::map<std::string, WindowClass> classes;  // by upper-cased name
  std::unordered_map<Handle, Window> windows;
  std::unordered_map<Dword, ThreadQueue*> queues;
  uintptr_t lastWindow = 0x10000;
  uint16_t nextAtom = 0xC000;
};

WindowSystem& Ws() {
  static WindowSystem* ws = new WindowSystem;
  return *ws;
}

std::string ClassKey(const char* name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

// A class name may also be an atom (a value below 0x10000 in the pointer).
WindowClass* FindClassLocked(const char* name) {
  WindowSystem& ws = Ws();
  if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
    auto atom = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(name));
    for (auto& [key, cls] : ws.classes) {
      if (cls.atom == atom) return &cls;
    }
    return nullptr;
  }
  auto it = ws.classes.find(ClassKey(name));
  return it == ws.classes.end() ? nullptr : &it->second;
}

Window* FindWindowLocked(Handle hwnd) {
  auto it = Ws().windows.find(hwnd);
  return it == Ws().windows.end() ? nullptr : &it->second;
}

void RemoveWindowLocked(Handle hwnd) {
  WindowSystem& ws = Ws();
  auto it = ws.windows.find(hwnd);
  if (it == ws.windows.end()) return;
  auto cls = ws.classes.find(it->second.classKey);
  if (cls != ws.classes.end()) --cls->second.windows;
  // Messages posted to a window that is gone are never retrieved.
  auto queue = ws.queues.find(it->second.thread);
  if (queue != ws.queues.end()) {
    std::deque<Msg>& posted = queue->second->posted;
    for (auto m = posted.begin(); m != posted.end();) {
      m = m->hwnd == hwnd ? posted.erase(m) : m + 1;
    }
  }
  ws.windows.erase(it);
}

bool IsMainThread() { return GetCurrentThreadId() == GetCurrentProcessId(); }

// When a thread other than the main one ends, its windows go with it and
// anyone still waiting on a message sent to it gets 0. The main thread's
// queue and windows stay: they are used until the process has ended.
struct ThreadExit {
  Dword thread = 0;
  ~ThreadExit() {
    if (thread == 0) return;
    WindowSystem& ws = Ws();
    std::lock_guard<BackEndMutex> lock(ws.mutex);
    auto q = ws.queues.find(thread);
    if (q == ws.queues.end()) return;
    for (SentMessage* m : q->second->sent) m->done = true;
    std::vector<Handle> owned;
    for (auto& [hwnd, w] : ws.windows) {
      if (w.thread == thread) owned.push_back(hwnd);
    }
    for (Handle hwnd : owned) RemoveWindowLocked(hwnd);
    delete q->second;
    ws.queues.erase(q);
    ws.changed.notify_all();
  }
};

ThreadQueue& QueueLocked(Dword thread) {
  WindowSystem& ws = Ws();
  ThreadQueue*& q = ws.queues[thread];
  if (q == nullptr) q = new ThreadQueue;
  return *q;
}

ThreadQueue& OwnQueueLocked() {
  Dword me = GetCurrentThreadId();
  // Only other threads get the guard: the main thread's thread-local objects
  // are destroyed at exit, before the clean-up that still uses its queue.
  if (!IsMainThread()) {
    thread_local ThreadExit exitGuard;
    exitGuard.thread = me;
  }
  return QueueLocked(me);
}

// Calls the procedure for a message another thread sent, with the lock
// released, and hands the result back to the waiting sender.
void DeliverLocked(std::unique_lock<BackEndMutex>& lock, SentMessage* m) {
  Window* w = FindWindowLocked(m->hwnd);
  intptr_t result = 0;
  if (w != nullptr) {
    WndProc proc = w->proc;
    lock.unlock();
    result = proc(m->hwnd, m->message, m->wParam, m->lParam);
    lock.lock();
  }
  m->result = result;
  m->done = true;
  Ws().changed.notify_all();
}

void DeliverSentLocked(std::unique_lock<BackEndMutex>& lock, ThreadQueue& q) {
  while (!q.sent.empty()) {
    SentMessage* m = q.sent.front();
    q.sent.pop_front();
    DeliverLocked(lock, m);
  }
}

Dword TickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Dword>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

bool Matches(const Msg& m, Handle hwnd, uint32_t filterMin, uint32_t filterMax) {
  if (hwnd == kThreadMessagesOnly ? m.hwnd != nullptr : hwnd != nullptr && m.hwnd != hwnd) {
    return false;
  }
  return (filterMin == 0 && filterMax == 0) ||
         (m.message >= filterMin && m.message <= filterMax);
}

bool ValidFilterLocked(Handle hwnd) {
  return hwnd == nullptr || hwnd == kThreadMessagesOnly || FindWindowLocked(hwnd) != nullptr;
}

// One round of PeekMessageA with the lock held: sent messages first, then the
// first matching posted message, then the quit request, which every filter
// lets through.
bool PeekLocked(std::unique_lock<BackEndMutex>& lock, Msg* msg, Handle hwnd, uint32_t filterMin,
                uint32_t filterMax, bool remove) {
  ThreadQueue& q = OwnQueueLocked();
  DeliverSentLocked(lock, q);
  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (!Matches(*it, hwnd, filterMin, filterMax)) continue;
    *msg = *it;
    if (remove) q.posted.erase(it);
    return true;
  }
  if (q.quit) {
    *msg = Msg{nullptr, kWmQuit, static_cast<uintptr_t>(static_cast<intptr_t>(q.quitCode)), 0,
               TickCount(), 0, 0};
    if (remove) q.quit = false;
    return true;
  }
  return false;
}

}  // namespace

Handle LoadCursorA(Handle instance, uintptr_t resource) {
  // Only the system's own cursors exist (IDC_ARROW and its neighbours).
  if (instance == nullptr && resource >= 32512 && resource <= 32651) {
    return reinterpret_cast<Handle>(0x20000 + resource);
  }
  SetLastError(kErrorResourceNameNotFound);
  return nullptr;
}

Handle GetStockObject(int object) {
  if (object < 0 || object > 19 || object == 9) return nullptr;
  return reinterpret_cast<Handle>(static_cast<uintptr_t>(0x8000 + object));
}

uint16_t RegisterClassA(const WndClassA* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      reinterpret_cast<uintptr_t>(windowClass->lpszClassName) < 0x10000 ||
      windowClass->lpfnWndProc == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  WindowSystem& ws = Ws();
  std::lock_guard<BackEndMutex> lock(ws.mutex);
  std::string key = ClassKey(windowClass->lpszClassName);
  if (ws.classes.count(key) != 0 || ws.nextAtom == 0) {
    SetLastError(kErrorClassAlreadyExists);
    return 0;
  }
  uint16_t atom = ws.nextAtom++;
  ws.classes[key] = WindowClass{windowClass->lpszClassName, windowClass->lpfnWndProc, atom, 0};
  return atom;
}

Bool UnregisterClassA(const char* className, Handle) {
  WindowSystem& ws = Ws();
  std::lock_guard<BackEndMutex> lock(ws.mutex);
  WindowClass* cls = className != nullptr ? FindClassLocked(className) : nullptr;
  if (cls == nullptr) {
    SetLastError(kErrorClassDoesNotExist);
    return 0;
  }
  if (cls->windows > 0) {
    SetLastError(kErrorClassHasWindows);
    return 0;
  }
  ws.classes.erase(ClassKey(cls->name.c_str()));
  return 1;
}

Handle CreateWindowExA(Dword, const char* className, const char*, Dword, int, int, int, int,
                       Handle parent, Handle, Handle, void*) {
  WindowSystem& ws = Ws();
  std::lock_guard<BackEndMutex> lock(ws.mutex);
  WindowClass* cls = className != nullptr ? FindClassLocked(className) : nullptr;
  if (cls == nullptr) {
    SetLastError(kErrorCannotFindWndClass);
    return nullptr;
  }
  if (parent != nullptr && parent != kMessageOnlyParent && FindWindowLocked(parent) == nullptr) {
    SetLastError(kErrorInvalidWindowHandle);
    return nullptr;
  }
  OwnQueueLocked();
  // Handles are never reused, so a stale one never reaches a newer window.
  ws.lastWindow += 4;
  Handle hwnd = reinterpret_cast<Handle>(ws.lastWindow);
  ws.windows[hwnd] = Window{cls->proc, GetCurrentThreadId(), ClassKey(cls->name.c_str())};
  ++cls->windows;
  return hwnd;
}

Bool IsWindow(Handle hwnd) {
  std::lock_guard<BackEndMutex> lock(Ws().mutex);
  return FindWindowLocked(hwnd) != nullptr ? 1 : 0;
}

intptr_t SendMessageA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  WindowSystem& ws = Ws();
  std::unique_lock<BackEndMutex> lock(ws.mutex);
  Window* w = FindWindowLocked(hwnd);
  if (w == nullptr) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  Dword me = GetCurrentThreadId();
  if (w->thread == me) {
    WndProc proc = w->proc;
    lock.unlock();
    return proc(hwnd, message, wParam, lParam);
  }
  SentMessage m{hwnd, message, wParam, lParam};
  QueueLocked(w->thread).sent.push_back(&m);
  ws.changed.notify_all();
  ThreadQueue& mine = OwnQueueLocked();
  while (!m.done) {
    // Messages sent to this thread meanwhile are handled while it waits, so
    // two threads sending to each other do not wait for ever.
    if (!mine.sent.empty()) {
      SentMessage* incoming = mine.sent.front();
      mine.sent.pop_front();
      DeliverLocked(lock, incoming);
      continue;
    }
    ws.changed.wait(lock);
  }
  return m.result;
}

Bool PostMessageA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  WindowSystem& ws = Ws();
  std::lock_guard<BackEndMutex> lock(ws.mutex);
  ThreadQueue* q;
  if (hwnd == nullptr) {
    q = &OwnQueueLocked();  // a message for the calling thread itself
  } else {
    Window* w = FindWindowLocked(hwnd);
    if (w == nullptr) {
      SetLastError(kErrorInvalidWindowHandle);
      return 0;
    }
    q = &QueueLocked(w->thread);
  }
  q->posted.push_back(Msg{hwnd, message, wParam, lParam, TickCount(), 0, 0});
  ws.changed.notify_all();
  return 1;
}

void PostQuitMessage(int exitCode) {
  WindowSystem& ws = Ws();
  std::lock_guard<BackEndMutex> lock(ws.mutex);
  ThreadQueue& q = OwnQueueLocked();
  q.quit = true;
  q.quitCode = exitCode;
  ws.changed.notify_all();
}

Bool PeekMessageA(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax,
                  uint32_t removeFlags) {
  std::unique_lock<BackEndMutex> lock(Ws().mutex);
  if (!ValidFilterLocked(hwnd)) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  return PeekLocked(lock, msg, hwnd, filterMin, filterMax, (removeFlags & kPmRemove) != 0) ? 1
                                                                                            : 0;
}

Bool GetMessageA(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax) {
  WindowSystem& ws = Ws();
  std::unique_lock<BackEndMutex> lock(ws.mutex);
  for (;;) {
    if (!ValidFilterLocked(hwnd)) {
      SetLastError(kErrorInvalidWindowHandle);
      return -1;
    }
    if (PeekLocked(lock, msg, hwnd, filterMin, filterMax, true)) {
      return msg->message == kWmQuit ? 0 : 1;
    }
    ws.changed.wait(lock);
  }
}

// There is no keyboard, so there is never a key message to translate.
Bool TranslateMessage(const Msg*) { return 0; }

intptr_t DispatchMessageA(const Msg* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  std::unique_lock<BackEndMutex> lock(Ws().mutex);
  Window* w = FindWindowLocked(msg->hwnd);
  if (w == nullptr) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  if (w->thread != GetCurrentThreadId()) {
    SetLastError(kErrorWindowOfOtherThread);
    return 0;
  }
  WndProc proc = w->proc;
  lock.unlock();
  return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

intptr_t DefWindowProcA(Handle hwnd, uint32_t message, uintptr_t, intptr_t) {
  switch (message) {
    case kWmClose:
      DestroyWindow(hwnd);
      return 0;
    case kWmNcCreate:
    case kWmQueryEndSession:
      return 1;
    default:
      return 0;
  }
}

Bool DestroyWindow(Handle hwnd) {
  WindowSystem& ws = Ws();
  std::unique_lock<BackEndMutex> lock(ws.mutex);
  Window* w = FindWindowLocked(hwnd);
  if (w == nullptr) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  if (w->thread != GetCurrentThreadId()) {
    SetLastError(kErrorAccessDenied);
    return 0;
  }
  if (w->destroying) return 1;  // called again from its own WM_DESTROY
  w->destroying = true;
  WndProc proc = w->proc;
  lock.unlock();
  proc(hwnd, kWmDestroy, 0, 0);
  proc(hwnd, kWmNcDestroy, 0, 0);
  lock.lock();
  RemoveWindowLocked(hwnd);
  return 1;
}

// No icon can be created on this back-end, so no handle names one.
Bool DestroyIcon(Handle) {
  SetLastError(kErrorInvalidIconHandle);
  return 0;
}

}  // namespace os::posix
