// The end of the run: waiting for open windows, the clean-up of everything
// start-up and the run acquired, and the one-way exit.
#include "runtime/host/end_of_run.h"

#include <exception>
#include <utility>
#include <vector>

#include "runtime/host/runtime_application.h"

namespace rt {
namespace {

constexpr os::Dword kInfinite = 0xFFFFFFFFu;

// Serves the idle callbacks from the last to the first, dropping those whose
// window has gone.
void ServeIdleCallbacks(RuntimeApplication& app) {
  const os::Platform& p = os::Os();
  for (size_t i = app.IdleWindows.size(); i-- > 0;) {
    if (p.IsWindow(app.IdleWindows[i])) {
      app.IdleRoutines[i](app.IdleArguments[i]);
    } else {
      app.IdleWindows.erase(app.IdleWindows.begin() + static_cast<std::ptrdiff_t>(i));
      app.IdleRoutines.erase(app.IdleRoutines.begin() + static_cast<std::ptrdiff_t>(i));
      app.IdleArguments.erase(app.IdleArguments.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

bool MessageWaiting(RuntimeApplication& app) {
  return os::Os().PeekMessageA(&app.m_msgCur, nullptr, 0, 0, os::kPmNoRemove) != 0;
}

template <typename T>
void Release(std::vector<T>& list) {
  std::vector<T>().swap(list);
}

// Stops the runtime's background activity: the player object, the
// background worker and the worker threads.
void StopBackgroundActivity(RuntimeApplication& app) {
  const os::Platform& p = os::Os();
  if (app.Player != nullptr) {
    // The player belongs to a plug-in; the first HookSlot resolves its
    // routines by name.
    static const char kRemovePlayer[] = "RemovePlayer";
    intptr_t routine = app.Hooks[0].Invoke(reinterpret_cast<intptr_t>(kRemovePlayer));
    if (routine != 0) reinterpret_cast<void (*)(void*)>(routine)(app.Player);
    app.Player = nullptr;
  }
  if (app.BackgroundWorker != nullptr) {
    app.BackgroundStopRequested = true;
    p.WaitForSingleObject(app.BackgroundWorker, kInfinite);
    p.CloseHandle(app.BackgroundWorker);
    app.BackgroundWorker = nullptr;
  }
  std::vector<os::Handle> workers;
  {
    std::lock_guard<std::mutex> hold(app.WorkerLock);
    workers.swap(app.WorkerThreads);
    if (!workers.empty()) app.WorkersEndRequested = true;
  }
  for (os::Handle worker : workers) {
    p.WaitForSingleObject(worker, kInfinite);
    p.CloseHandle(worker);
  }
}

}  // namespace

int32_t AnyWindowOpen() {
  RuntimeApplication& app = App();
  for (const auto& unit : app.WindowUnitTable) {
    if (unit != nullptr && unit->window != nullptr && os::Os().IsWindow(unit->window)) return 1;
  }
  return 0;
}

void FinishRun() {
  RuntimeApplication& app = App();
  app.RunFinished = 1;
  if (AnyWindowOpen() == 1) MessageLoop(0);
}

void MessageLoop(int32_t mode) {
  RuntimeApplication& app = App();
  bool idle = true;
  long idleCount = 0;
  for (;;) {
    while (idle && !MessageWaiting(app)) {
      ServeIdleCallbacks(app);
      if (app.OnIdle(idleCount++) == 0) idle = false;
      if (mode == 1 && !app.ModalActive) return;
    }
    do {
      // A modal loop leaves the quit message to the loop outside it.
      if (mode == 1 && app.m_msgCur.message == os::kWmQuit) return;
      if (!app.PumpMessage()) return;
      if (mode == 1 && !app.ModalActive) return;
      if (app.IsIdleMessage(app.m_msgCur)) {
        idle = true;
        idleCount = 0;
      }
    } while (MessageWaiting(app));
  }
}

void EndOfRunCleanup(int32_t code) {
  RuntimeApplication& app = App();
  const os::Platform& p = os::Os();

  ++app.EventSuppressCount;

  // Everything below was acquired by the main thread and is given back by
  // it: another thread asks the main thread to end the process.
  if (app.MainThreadId != 0 && p.GetCurrentThreadId() != app.MainThreadId) {
    if (app.EndRequestWindow != nullptr && p.IsWindow(app.EndRequestWindow)) {
      p.SendMessageA(app.EndRequestWindow, kEndRequestMessage, static_cast<uintptr_t>(code), 0);
    }
    if (app.CleanupRunning == 1) return;  // the main thread is ending the process
    os::EndProcess(static_cast<uint32_t>(code));
  }
  app.CleanupRunning = 1;

  Release(app.IdleWindows);
  Release(app.IdleRoutines);
  Release(app.IdleArguments);

  Release(app.WindowUnitTable);

  // Emptied before the call, so a handler that ends the program itself does
  // not run a second time.
  if (EndOfRunHandlerFn handler = std::exchange(app.EndOfRunHandler, nullptr)) handler();

  for (size_t i = 0; i < app.LibraryList.size(); ++i) {
    const LibraryDescriptor* library = app.LibraryList[i];
    if (library != nullptr && library->notify != nullptr) {
      intptr_t value = i < app.LibraryValues.size() ? app.LibraryValues[i] : 0;
      library->notify(6, value, 0);
    }
  }
  Release(app.LibraryList);
  Release(app.LibraryValues);

  bool externalLoaded = false;
  for (const auto& table : app.ExternalLibraryTables) externalLoaded |= !table.empty();
  if (externalLoaded) {
    // The first table holds the module handles, set once a library is loaded.
    for (uintptr_t module : app.ExternalLibraryTables[0]) {
      if (module != 0) p.FreeLibrary(reinterpret_cast<os::Handle>(module));
    }
    for (auto& table : app.ExternalLibraryTables) Release(table);
  }

  for (os::Handle module : app.ExternalCallModules) {
    if (module != nullptr) p.FreeLibrary(module);
  }
  Release(app.ExternalCallModules);
  Release(app.ExternalCallNames);
  app.ResolverModule = nullptr;
  std::string().swap(app.ResolverLibraryName);
  std::string().swap(app.ResolverFunctionName);

  // No address counts as static any more.
  Release(app.StaticRangeList);

  for (os::Handle& icon : app.Icons) {
    if (icon != nullptr) p.DestroyIcon(icon);
    icon = nullptr;
  }

  if (os::Handle window = std::exchange(app.EndRequestWindow, nullptr)) {
    if (p.IsWindow(window) && app.m_windowMapAlive) p.DestroyWindow(window);
  }

  // An object that fails to close or delete must not keep the others open.
  for (LiveObject* object : app.LiveObjects) {
    if (object == nullptr) continue;
    try {
      object->Close();
    } catch (const std::exception&) {
    }
    try {
      delete object;
    } catch (const std::exception&) {
    }
  }
  Release(app.LiveObjects);
  Release(app.LiveObjectTags);

  for (OwnedObject* object : app.OwnedObjects) delete object;
  Release(app.OwnedObjects);

  StopBackgroundActivity(app);

  for (auto& record : app.IconRecords) {
    if (record == nullptr) continue;
    if (record->icon != nullptr) p.DestroyIcon(record->icon);
    record->icon = nullptr;
    Release(record->buffer);
  }
  Release(app.IconRecords);

  if (app.SocketsStarted) {
    p.WSACleanup();
    app.SocketsStarted = false;
  }

  for (auto* list : {&app.RegisteredTypeLibraries, &app.RegisteredServers}) {
    for (const RegisteredComponent& component : *list) {
      if (component.unregister != nullptr) component.unregister(component.path);
    }
    Release(*list);
  }

  if (app.OleInitialised == 1) {
    p.OleUninitialize();
    app.OleInitialised = 0;
  }
}

void EndProgram(int32_t code) {
  EndOfRunCleanup(code);
  os::EndProcess(static_cast<uint32_t>(code));
}

}  // namespace rt
