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
#include <initializer_list>
#include <iterator>
#include <map>
#include <vector>
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

// The states shown once a run has ended: its counts, not its progress.
bool Shown(HWND window) {
  const std::wstring status = Text(::GetDlgItem(window, IDC_STATUS_BAR));
  return status.find(L" already current") != std::wstring::npos && !status.starts_with(L"Checking:") &&
         !status.starts_with(L"Updating:");
}

std::wstring Status(HWND window) { return Text(::GetDlgItem(window, IDC_STATUS_BAR)); }

// The control that has the window's focus, by its identifier (0: none of
// its controls).
int Focused(HWND window) {
  GUITHREADINFO info{sizeof info};
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) || info.hwndFocus == nullptr) {
    return 0;
  }
  return info.hwndFocus == window ? 0 : ::GetDlgCtrlID(info.hwndFocus);
}

// Keys pressed as a person presses them, through the system's input, to the
// window in front: modifiers held (VK_SHIFT, VK_CONTROL) around key.
void Press(WORD key, std::initializer_list<WORD> held = {}) {
  std::vector<INPUT> inputs;
  const auto add = [&](WORD vk, bool up) {
    INPUT input{INPUT_KEYBOARD};
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  for (WORD vk : held) add(vk, false);
  add(key, false);
  add(key, true);
  for (auto it = std::rbegin(held); it != std::rend(held); ++it) add(*it, true);
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// A box or dialog of the window's process in front of it (the folder
// picker, About), or null.
HWND BoxOf(HWND window) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  HWND found = nullptr;
  for (HWND hwnd = ::GetTopWindow(nullptr); hwnd != nullptr && found == nullptr;
       hwnd = ::GetWindow(hwnd, GW_HWNDNEXT)) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    wchar_t name[64] = L"";
    ::GetClassNameW(hwnd, name, 64);
    if (owner == pid && hwnd != window && ::IsWindowVisible(hwnd) && wcscmp(name, L"#32770") == 0) {
      found = hwnd;
    }
  }
  return found;
}

// The window started on folder (the argument as given), once it shows its
// states; null, with a failure added, if it never does.
HWND StartOn(const std::wstring& folder, PROCESS_INFORMATION* started,
             const std::function<bool(HWND)>& ready = Shown) {
  *started = Start(g_windowExe, folder);
  HWND window = nullptr;
  if (!Eventually([&] { return (window = WindowOf(started->dwProcessId)) != nullptr && ready(window); }, 120)) {
    ADD_FAILURE() << "the window did not show its states";
    return nullptr;
  }
  ::SetForegroundWindow(window);
  return window;
}

// Closes the window and waits for its process, which must end well.
void CloseAndWait(HWND window, PROCESS_INFORMATION& started) {
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForEnd(started.hProcess, 120000), 0u);
  ::CloseHandle(started.hProcess);
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
  EXPECT_TRUE(Text(::GetDlgItem(window, IDC_STATUS_BAR))
                  .starts_with(L"5 folders visited, 5 manifests missing or stale, 0 already current, 0 failed, "
                               L"1 warning; states as of "));
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

// Keys as a person uses them: the focus in the tree from the start (the
// window opened on a path ending in \", as a batch file's "%~dp0" gives
// it), Tab and Shift+Tab round every control and wrapping, Escape in each
// pane leaving the window open, the focus back where it was after About and
// after the folder picker is cancelled.
TEST(Window, KeysGoRoundEveryControlAndNeverCloseIt) {
  const fs::path mod = fs::path(g_work) / "Keys" / "Data";
  fs::remove_all(mod.parent_path());
  MakeMod(mod);
  PROCESS_INFORMATION started{};
  HWND window = StartOn(mod.wstring() + L"\\", &started);
  ASSERT_NE(window, nullptr);
  const std::wstring title = Text(window);
  // The tree tool takes the same line: a check that finds manifests
  // missing (1), not a ROOT refused (2).
  const PROCESS_INFORMATION check = Start(g_treeExe, mod.wstring() + L"\\", L"--check -q ");
  EXPECT_EQ(WaitForEnd(check.hProcess), 1u);
  ::CloseHandle(check.hProcess);
  EXPECT_TRUE(Eventually([&] { return Focused(window) == IDC_TREE; }, 10)) << Focused(window);

  const int order[] = {IDC_TREE, IDC_ATTENTION_LIST, IDC_DETAILS, IDC_LOG,
                       IDC_OPEN_BUTTON, IDC_UPDATE_BUTTON, IDC_KEEP_CURRENT_BOX, IDC_TREE};
  for (size_t i = 1; i < std::size(order); ++i) {
    Press(VK_TAB);
    EXPECT_TRUE(Eventually([&] { return Focused(window) == order[i]; }, 10)) << i << ": " << Focused(window);
  }
  for (size_t i = std::size(order) - 1; i-- > 0;) {
    Press(VK_TAB, {VK_SHIFT});
    EXPECT_TRUE(Eventually([&] { return Focused(window) == order[i]; }, 10)) << i << ": " << Focused(window);
  }
  // Escape in each pane, then Tab: once the Tab has moved the focus, any
  // close the Escape asked for would have come first (input is taken after
  // posted messages).
  for (size_t i = 0; i < 4; ++i) {
    Press(VK_ESCAPE);
    Press(VK_TAB);
    EXPECT_TRUE(Eventually([&] { return Focused(window) == order[i + 1]; }, 10)) << i;
    ASSERT_TRUE(::IsWindow(window)) << "Escape closed the window in pane " << order[i];
  }

  // The focus is now in the Open button; back to the list, then About.
  Press(VK_TAB, {VK_SHIFT});
  Press(VK_TAB, {VK_SHIFT});
  Press(VK_TAB, {VK_SHIFT});
  ASSERT_TRUE(Eventually([&] { return Focused(window) == IDC_ATTENTION_LIST; }, 10));
  ::PostMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
  ASSERT_TRUE(Eventually([&] { return BoxOf(window) != nullptr; }));
  ::SetForegroundWindow(BoxOf(window));
  Press(VK_RETURN);
  EXPECT_TRUE(Eventually([&] { return BoxOf(window) == nullptr && Focused(window) == IDC_ATTENTION_LIST; }, 10))
      << Focused(window);
  // The folder picker, cancelled: the same folder, the focus back.
  Press('O', {VK_CONTROL});
  ASSERT_TRUE(Eventually([&] { return BoxOf(window) != nullptr; }));
  ::PostMessageW(BoxOf(window), WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(Eventually([&] { return BoxOf(window) == nullptr && Focused(window) == IDC_ATTENTION_LIST; }, 10))
      << Focused(window);
  EXPECT_EQ(Text(window), title);
  CloseAndWait(window, started);
}

// Folders, each with a few XML files: folder i > 0 sits in folder
// (i - 1) / 25, as in the window's benchmark.
void MakeBigMod(const fs::path& root, int folders) {
  std::vector<fs::path> paths{root};
  for (int i = 1; i < folders; ++i) paths.push_back(paths[static_cast<size_t>((i - 1) / 25)] / ("f" + std::to_string(i)));
  for (const fs::path& path : paths) {
    fs::create_directories(path);
    for (int k = 0; k < 5; ++k) Write(path / ("asset_" + std::to_string(k) + ".xml"), "<x/>");
  }
}

// Each folder of a big mod given one more file.
std::vector<fs::path> AddToEvery(const fs::path& root, const char* name) {
  std::vector<fs::path> folders{root};
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_directory()) folders.push_back(entry.path());
  }
  for (const fs::path& folder : folders) Write(folder / name, "<x/>");
  return folders;
}

int ManifestsHolding(const std::vector<fs::path>& folders, const char* name) {
  int holding = 0;
  for (const fs::path& folder : folders) {
    const fs::path manifest = folder / (folder.filename() == "Data" ? "Mod.xml" : "zenter.xml");
    if (Read(manifest).find(name) != std::string::npos) ++holding;
  }
  return holding;
}

double Since(ULONGLONG begin) { return static_cast<double>(::GetTickCount64() - begin) / 1000.0; }

// Waits for a stop asked to end, checking that the status bar says
// "Stopping..." for as long as it has not: the seconds it took.
double StopTakes(HWND window, const std::function<bool()>& stopped, ULONGLONG asked) {
  bool said = true;
  EXPECT_TRUE(Eventually([&] {
    // Read before asking whether it has stopped: a status read after might
    // be the run's end.
    const std::wstring status = Status(window);
    if (stopped()) return true;
    said = said && status.starts_with(L"Stopping");
    return false;
  }, 120, 20));
  EXPECT_TRUE(said) << "the status bar forgot the stop";
  return Since(asked);
}

// Stop that stops: an update stopped from its own button, a watch's batch
// stopped by turning Keep current off, each in the midst and with no
// temporary file left; the states then a snapshot that Check again (Ctrl+R)
// looks at anew; closing in the midst of a watch's batch ends the process.
TEST(Window, StopsInTheMidstAndChecksAgain) {
  constexpr int kFolders = 2000;
  const fs::path mod = fs::path(g_work) / "Big" / "Data";
  fs::remove_all(mod.parent_path());
  MakeBigMod(mod, kFolders);
  PROCESS_INFORMATION started{};
  HWND window = StartOn(mod.wstring(), &started);
  ASSERT_NE(window, nullptr);
  HWND update = ::GetDlgItem(window, IDC_UPDATE_BUTTON), keep = ::GetDlgItem(window, IDC_KEEP_CURRENT_BOX);
  HWND log = ::GetDlgItem(window, IDC_LOG);

  ::SendMessageW(update, BM_CLICK, 0, 0);
  ASSERT_TRUE(Eventually([&] {
    const std::wstring status = Status(window);
    return status.starts_with(L"Updating:") && status.find(L" 0 written") == std::wstring::npos;
  }, 60, 10));
  EXPECT_EQ(Text(update), L"&Stop");
  ULONGLONG asked = ::GetTickCount64();
  ::SendMessageW(update, BM_CLICK, 0, 0);
  const double update_s = StopTakes(window, [&] { return Text(update) == L"&Update" && Shown(window); }, asked);
  std::printf("stop during an update of %d folders: %.2f s\n", kFolders, update_s);
  EXPECT_FALSE(HasTemporaryFile(mod));
  EXPECT_LT(Manifests(mod).size(), static_cast<size_t>(kFolders));

  // Everything written, then a watch given a batch of every folder.
  ::SendMessageW(update, BM_CLICK, 0, 0);
  ASSERT_TRUE(Eventually([&] { return Shown(window) && Manifests(mod).size() == kFolders; }, 300));
  ::SendMessageW(keep, BM_CLICK, 0, 0);
  ASSERT_TRUE(Eventually([&] { return Text(log).find(L" for changes") != std::wstring::npos; }, 120));
  const size_t logged = Text(log).size();
  std::vector<fs::path> folders = AddToEvery(mod, "new.xml");
  ASSERT_TRUE(Eventually([&] { return Text(log).find(L" wrote ", logged) != std::wstring::npos; }, 120, 10));
  asked = ::GetTickCount64();
  ::SendMessageW(keep, BM_CLICK, 0, 0);
  const double watch_s = StopTakes(window, [&] {
    return ::SendMessageW(keep, BM_GETCHECK, 0, 0) == BST_UNCHECKED && ::IsWindowEnabled(update);
  }, asked);
  std::printf("stop during a watch's batch of %d folders: %.2f s\n", kFolders, watch_s);
  EXPECT_LT(ManifestsHolding(folders, "new.xml"), kFolders / 2);
  EXPECT_FALSE(HasTemporaryFile(mod));
  EXPECT_NE(Text(log).find(L" no longer kept current"), std::wstring::npos);
  EXPECT_NE(Status(window).find(L"; states as of "), std::wstring::npos) << Status(window).size();

  // The states are a snapshot; Check again finds what the stop left stale.
  Press('R', {VK_CONTROL});
  ASSERT_TRUE(Eventually([&] {
    const std::wstring status = Status(window);
    return Shown(window) && status.find(L" missing or stale") != std::wstring::npos &&
           status.find(L" 0 manifests missing or stale") == std::wstring::npos;
  }, 120)) << Status(window).size();

  // Closing in the midst of a watch's batch: the process ends, nothing left.
  ::SendMessageW(keep, BM_CLICK, 0, 0);
  ASSERT_TRUE(Eventually([&] { return ::IsWindowEnabled(update) == FALSE && Shown(window); }, 300));
  const size_t watched = Text(log).size();
  folders = AddToEvery(mod, "newer.xml");
  ASSERT_TRUE(Eventually([&] { return Text(log).find(L" wrote ", watched) != std::wstring::npos; }, 120, 10));
  asked = ::GetTickCount64();
  CloseAndWait(window, started);
  std::printf("close during a watch's batch of %d folders: %.2f s\n", kFolders, Since(asked));
  EXPECT_LT(ManifestsHolding(folders, "newer.xml"), kFolders / 2);
  EXPECT_FALSE(HasTemporaryFile(mod));
}

// Removes a folder as a Linux shell does, at once, whatever holds it open
// (Wine, as Windows, removes a folder held open only once its last handle
// is closed, and the watch holds ROOT). Wine starts a Unix program as it
// starts any other.
bool RemoveAtOnce(const fs::path& folder) {
  std::wstring unix = folder.wstring().substr(2);  // Z:\x\y -> /x/y
  for (wchar_t& c : unix) c = c == L'\\' ? L'/' : c;
  std::wstring line = L"rm -rf \"" + unix + L"\"";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(L"Z:\\bin\\rm", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  WaitForEnd(process.hProcess);
  ::CloseHandle(process.hProcess);
  return Eventually([&] { return !fs::exists(folder); }, 10);
}

// What cannot be opened said plainly: the root of a drive refused where
// the tree was, Update and Keep current greyed, not the folder the next
// start opens; ROOT removed during Keep current said so, the tree marked.
TEST(Window, SaysPlainlyWhatItCannotOpen) {
  window::settings::SetLastFolder(L"");
  PROCESS_INFORMATION started{};
  HWND window = StartOn(L"Z:\\", &started,
                        [](HWND w) { return Status(w).find(L"cannot be opened") != std::wstring::npos; });
  ASSERT_NE(window, nullptr);
  std::vector<std::wstring> labels = TreeLabels(window);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_NE(labels[0].find(L"the root of a drive or share is no mod folder"), std::wstring::npos);
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE_BUTTON)));
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window, IDC_KEEP_CURRENT_BOX)));
  CloseAndWait(window, started);
  EXPECT_EQ(window::settings::LastFolder(), L"");

  const fs::path mod = fs::path(g_work) / "Gone" / "Data";
  fs::remove_all(mod.parent_path());
  MakeMod(mod);
  window = StartOn(mod.wstring(), &started);
  ASSERT_NE(window, nullptr);
  ::SendMessageW(::GetDlgItem(window, IDC_KEEP_CURRENT_BOX), BM_CLICK, 0, 0);
  ASSERT_TRUE(Eventually([&] { return Text(::GetDlgItem(window, IDC_LOG)).find(L" for changes") != std::wstring::npos; }));
  ASSERT_TRUE(RemoveAtOnce(mod));
  EXPECT_TRUE(Eventually([&] { return Status(window).find(L"cannot be opened: it was removed") != std::wstring::npos; }, 60))
      << Status(window).size();
  EXPECT_EQ(TreeLabels(window).size(), 1u);
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(window, IDC_KEEP_CURRENT_BOX)));
  EXPECT_EQ(::SendMessageW(::GetDlgItem(window, IDC_KEEP_CURRENT_BOX), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  CloseAndWait(window, started);
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
