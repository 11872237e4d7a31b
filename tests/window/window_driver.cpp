// Drives modmanifest-window.exe as a person would, from another process: it
// starts the window on a test tree, finds it by its class, reads the tree's
// items and states, presses Update and compares every manifest with the tree
// tool's bytes, turns Keep current on and waits for a new file's line,
// adds and removes the Explorer entry, and closes the window.
//
// window_driver WINDOW_EXE TREE_EXE WORK_FOLDER       the whole suite
// window_driver --show WINDOW_EXE FOLDER              the window on FOLDER,
//     placed at 0,0 and left open once its states show (for a screenshot)
// window_driver --close                               every such window closed
// window_driver --time WINDOW_EXE TREE_EXE FOLDER REPS the window to its states
//     shown against the tree tool's --check, alternately; milliseconds
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "window/win32/resource.h"
#include "window/win32/settings.h"

namespace fs = std::filesystem;
namespace ids = window::ids;

namespace {

std::wstring g_windowExe, g_treeExe, g_work;

// Waits for what() to hold, checking every pause ms, for at most seconds.
bool Eventually(const std::function<bool()>& what, double seconds = 30, DWORD pause = 50) {
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (what()) return true;
    if (::GetTickCount64() > end) return false;
    ::Sleep(pause);
  }
}

PROCESS_INFORMATION Start(const std::wstring& program, const std::wstring& argument,
                          const std::wstring& option = L"") {
  std::wstring line = L"\"" + program + L"\" " + option + L"\"" + argument + L"\"";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "cannot start the program: error " << ::GetLastError();
  }
  ::CloseHandle(process.hThread);
  return process;
}

DWORD WaitForEnd(HANDLE process, DWORD milliseconds = 30000) {
  DWORD status = STILL_ACTIVE;
  if (::WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0) ::GetExitCodeProcess(process, &status);
  return status;
}

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
  wchar_t name[64] = L"";
  ::GetClassNameW(hwnd, name, 64);
  if (wcscmp(name, ids::kWindowClass) == 0) reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

// The windows of the window's class, of any process.
std::vector<HWND> Windows() {
  std::vector<HWND> found;
  ::EnumWindows(&Collect, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND WindowOf(DWORD pid) {
  for (HWND hwnd : Windows()) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == pid) return hwnd;
  }
  return nullptr;
}

std::wstring Text(HWND control) {
  std::wstring text(static_cast<size_t>(::SendMessageW(control, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(
      ::SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

// The labels of the tree's items, read through memory in the window's own
// process, as one process reads another's tree view.
std::vector<std::wstring> TreeLabels(HWND window) {
  HWND tree = ::GetDlgItem(window, IDC_TREE);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(tree, &pid);
  HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  constexpr size_t kChars = 1024;
  auto* remote = static_cast<char*>(::VirtualAllocEx(process, nullptr, sizeof(TVITEMW) + kChars * 2,
                                                     MEM_COMMIT, PAGE_READWRITE));
  std::vector<std::wstring> labels;
  std::function<void(HTREEITEM)> walk = [&](HTREEITEM item) {
    for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
      TVITEMW asked{TVIF_TEXT};
      asked.hItem = item;
      asked.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(TVITEMW));
      asked.cchTextMax = kChars;
      wchar_t text[kChars] = L"";
      SIZE_T moved = 0;
      ::WriteProcessMemory(process, remote, &asked, sizeof asked, &moved);
      ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote));
      ::ReadProcessMemory(process, remote + sizeof(TVITEMW), text, sizeof text - 2, &moved);
      labels.push_back(text);
      walk(TreeView_GetChild(tree, item));
    }
  };
  walk(TreeView_GetRoot(tree));
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  ::CloseHandle(process);
  return labels;
}

// Name -> state of each item ("Units — stale"), ROOT's by "".
std::map<std::wstring, std::wstring> States(HWND window) {
  std::map<std::wstring, std::wstring> states;
  bool root = true;
  for (const std::wstring& label : TreeLabels(window)) {
    const size_t cut = label.rfind(L" \u2014 ");
    if (cut == std::wstring::npos) continue;
    states[root ? L"" : label.substr(0, cut)] = label.substr(cut + 3);
    root = false;
  }
  return states;
}

bool Shown(HWND window) {
  const std::wstring status = Text(::GetDlgItem(window, IDC_STATUS_BAR));
  return status.find(L" already current") != std::wstring::npos && status.find(L":") == std::wstring::npos;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A mod tree with a manifest of each state: missing, stale, current, a
// hidden folder, an ignored one, and a Data folder beneath another.
void MakeMod(const fs::path& root) {
  for (const char* folder : {"Units/Vehicles", "Art", ".git/objects", "Build", "Units/Data"}) {
    fs::create_directories(root / folder);
  }
  Write(root / "GameData.xml", "<x/>");
  Write(root / "Units/Tank.xml", "<x/>");
  Write(root / "Units/Vehicles/Jeep.xml", "<x/>");
  Write(root / "Units/zenter.xml", "old\r\n");
  Write(root / ".modmanifestignore", "Build\n");
}

std::vector<std::string> Manifests(const fs::path& root) {
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (name == "zenter.xml" || name == "Mod.xml") found.push_back(fs::relative(it->path(), root).string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool HasTemporaryFile(const fs::path& root) {
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("~mm", 0) == 0) return true;
  }
  return false;
}

TEST(Window, ShowsUpdatesKeepsCurrentAndClosesCleanly) {
  const fs::path work(g_work);
  const fs::path mod = work / "Mod" / "Data";
  const fs::path reference = work / "Reference" / "Data";
  fs::remove_all(work / "Mod");
  fs::remove_all(work / "Reference");
  MakeMod(mod);
  MakeMod(reference);
  const PROCESS_INFORMATION tree = Start(g_treeExe, reference.wstring(), L"-q ");
  ASSERT_EQ(WaitForEnd(tree.hProcess), 0u);
  ::CloseHandle(tree.hProcess);

  const PROCESS_INFORMATION started = Start(g_windowExe, mod.wstring());
  HWND window = nullptr;
  ASSERT_TRUE(Eventually([&] {
    return (window = WindowOf(started.dwProcessId)) != nullptr ||
           ::WaitForSingleObject(started.hProcess, 0) == WAIT_OBJECT_0;
  }));
  ASSERT_NE(window, nullptr) << "the window ended at once, status " << WaitForEnd(started.hProcess);
  ASSERT_TRUE(Eventually([&] { return Shown(window); })) << Text(::GetDlgItem(window, IDC_STATUS_BAR)).size();

  // Before anything is written: each folder's state, skipped ones with the
  // others, and the counts as the summary line gives them.
  using StateMap = std::map<std::wstring, std::wstring>;
  EXPECT_EQ(States(window), (StateMap{{L"", L"missing"},
                                    {L".git", L"skipped"},
                                    {L"Art", L"missing"},
                                    {L"Build", L"skipped"},
                                    {L"Data", L"missing"},
                                    {L"Units", L"stale"},
                                    {L"Vehicles", L"missing"}}));
  EXPECT_EQ(Text(::GetDlgItem(window, IDC_STATUS_BAR)),
            L"5 folders visited, 5 manifests missing or stale, 0 already current, 0 failed, 1 warning");
  EXPECT_FALSE(fs::exists(mod / "Mod.xml"));
  EXPECT_EQ(Read(mod / "Units/zenter.xml"), "old\r\n");

  // A second start on the same folder brings the first to front and ends.
  const PROCESS_INFORMATION second = Start(g_windowExe, mod.wstring());
  EXPECT_EQ(WaitForEnd(second.hProcess), 0u);
  ::CloseHandle(second.hProcess);
  EXPECT_EQ(Windows().size(), 1u);

  // Update writes exactly the tree tool's manifests.
  ::SendMessageW(::GetDlgItem(window, IDC_UPDATE_BUTTON), BM_CLICK, 0, 0);
  ASSERT_TRUE(Eventually([&] {
    return Shown(window) && Text(::GetDlgItem(window, IDC_STATUS_BAR)).find(L" 5 manifests written") != std::wstring::npos;
  }));
  EXPECT_EQ(States(window)[L"Units"], L"written");
  ASSERT_EQ(Manifests(mod), Manifests(reference));
  for (const std::string& manifest : Manifests(reference)) {
    EXPECT_EQ(Read(mod / manifest), Read(reference / manifest)) << manifest;
  }

  // The title and the keys are the resource script's: F5 updates again, and
  // finds nothing left to write.
  EXPECT_TRUE(Text(window).ends_with(L"\\Data - Mod manifests")) << Text(window).size();
  ::PostMessageW(window, WM_KEYDOWN, VK_F5, 0);
  EXPECT_TRUE(Eventually([&] {
    return Shown(window) && Text(::GetDlgItem(window, IDC_STATUS_BAR)).find(L" 0 manifests written, 5 already current") !=
                                std::wstring::npos;
  }));

  // Keep current: a new file is in its folder's manifest, and the log says so.
  ::SendMessageW(::GetDlgItem(window, IDC_KEEP_CURRENT_BOX), BM_CLICK, 0, 0);
  HWND log = ::GetDlgItem(window, IDC_LOG);
  ASSERT_TRUE(Eventually([&] { return Text(log).find(L" for changes") != std::wstring::npos; }));
  Write(mod / "Art" / "Sprites.xml", "<x/>");
  const std::wstring line = L" wrote " + (mod / "Art" / "zenter.xml").wstring();
  EXPECT_TRUE(Eventually([&] {
    return Read(mod / "Art" / "zenter.xml").find("Sprites.xml") != std::string::npos &&
           Text(log).find(line) != std::wstring::npos;
  })) << "log: " << Text(log).size();
  EXPECT_EQ(States(window)[L"Art"], L"written");

  // The Explorer entry, there only while the user wants it.
  HKEY key = nullptr;
  ::SendMessageW(window, WM_COMMAND, IDM_EXPLORER_ADD, 0);
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, window::settings::kExplorerKey, 0, KEY_READ, &key), 0);
  wchar_t command[1024] = L"";
  DWORD bytes = sizeof command;
  EXPECT_EQ(::RegGetValueW(key, L"command", nullptr, RRF_RT_REG_SZ, nullptr, command, &bytes), 0);
  ::RegCloseKey(key);
  EXPECT_EQ(std::wstring(command), L"\"" + g_windowExe + L"\" \"%1\"");
  ::SendMessageW(window, WM_COMMAND, IDM_EXPLORER_REMOVE, 0);
  EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, window::settings::kExplorerKey, 0, KEY_READ, &key), 0);

  // Closing ends the watch as Ctrl-C does: status 0, no temporary file; the
  // folder is the one the next start opens.
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForEnd(started.hProcess), 0u);
  ::CloseHandle(started.hProcess);
  EXPECT_FALSE(HasTemporaryFile(mod));
  EXPECT_EQ(fs::path(window::settings::LastFolder()), mod);
}

// Starts the window on a folder, places it for a screenshot, and leaves it
// running once its states show. Prints its process id.
int Show(const std::wstring& program, const std::wstring& folder) {
  const PROCESS_INFORMATION started = Start(program, folder);
  HWND window = nullptr;
  if (!Eventually([&] { return (window = WindowOf(started.dwProcessId)) != nullptr && Shown(window); })) {
    return 1;
  }
  ::SetWindowPos(window, nullptr, 0, 0, 900, 600, SWP_NOZORDER);
  // Drawn at its new size before the picture is taken.
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ::Sleep(1000);
  return 0;
}

// Times, alternately, the window from its start to its states shown and
// the tree tool's --check from its start to its end, on the same folder;
// prints each pair in milliseconds.
int Time(const std::wstring& window, const std::wstring& treeTool, const std::wstring& folder,
         int reps) {
  for (int rep = 0; rep < reps; ++rep) {
    LARGE_INTEGER frequency, begin, shown, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&begin);
    const PROCESS_INFORMATION started = Start(window, folder);
    HWND hwnd = nullptr;
    const bool ok = Eventually(
        [&] { return (hwnd = WindowOf(started.dwProcessId)) != nullptr && Shown(hwnd); }, 300, 20);
    ::QueryPerformanceCounter(&shown);
    if (hwnd != nullptr) ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    WaitForEnd(started.hProcess);
    ::CloseHandle(started.hProcess);
    if (!ok) return 1;
    LARGE_INTEGER checkBegin;
    ::QueryPerformanceCounter(&checkBegin);
    const PROCESS_INFORMATION check = Start(treeTool, folder, L"--check -q ");
    WaitForEnd(check.hProcess, 300000);
    ::CloseHandle(check.hProcess);
    ::QueryPerformanceCounter(&end);
    const auto ms = [&](LONGLONG ticks) { return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart); };
    std::printf("%.1f %.1f\n", ms(shown.QuadPart - begin.QuadPart), ms(end.QuadPart - checkBegin.QuadPart));
    std::fflush(stdout);
  }
  return 0;
}

// Closes every window of the class and waits until they are gone.
int Close() {
  for (HWND hwnd : Windows()) ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
  return Eventually([] { return Windows().empty(); }) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (count == 4 && wcscmp(args[1], L"--show") == 0) return Show(args[2], args[3]);
  if (count == 2 && wcscmp(args[1], L"--close") == 0) return Close();
  if (count == 6 && wcscmp(args[1], L"--time") == 0) return Time(args[2], args[3], args[4], _wtoi(args[5]));
  if (count < 4) {
    std::fprintf(stderr, "usage: window_driver WINDOW_EXE TREE_EXE WORK_FOLDER\n");
    return 2;
  }
  g_windowExe = args[1];
  g_treeExe = args[2];
  g_work = args[3];
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
