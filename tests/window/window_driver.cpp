// Drives modmanifest-window.exe as a person would, from another process: it
// starts the window on a test tree, finds it by its class, reads the tree's
// items and states, presses Update and compares every manifest with the tree
// tool's bytes, turns Keep current on and waits for a new file's line,
// adds and removes the Explorer entry, and closes the window. Under a
// Chinese UI language (LANG=zh_CN.UTF-8) it runs only the window in
// Chinese: its menus and states, the same Update, the language chosen.
//
// window_driver WINDOW_EXE TREE_EXE WORK_FOLDER       the whole suite
// window_driver --show WINDOW_EXE FOLDER              the window on FOLDER,
//     placed at 0,0 and left open once its states show (for a screenshot)
// window_driver --close                               every such window closed
// window_driver --stop WINDOW_EXE FOLDER             a watch's batch stopped:
//     seconds to stopped, manifests written, folders
// window_driver --time WINDOW_EXE TREE_EXE FOLDER REPS the window to its states
//     shown against the tree tool's --check, alternately; milliseconds
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
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
#include "window/win32/texts.h"

namespace fs = std::filesystem;
namespace ids = window::ids;

namespace {

std::wstring g_windowExe, g_treeExe, g_work;
// The UI language is Chinese: the window speaks it.
bool g_chinese = false;

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

// Memory in the window's process, for the messages whose data one process
// cannot hand another by pointer.
class Remote {
 public:
  Remote(HWND window, size_t bytes) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    at_ = static_cast<char*>(::VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
  }
  ~Remote() {
    ::VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    ::CloseHandle(process_);
  }
  char* At() const { return at_; }
  void Put(const void* data, size_t bytes, size_t offset = 0) {
    SIZE_T moved = 0;
    ::WriteProcessMemory(process_, at_ + offset, data, bytes, &moved);
  }
  void Get(void* data, size_t bytes, size_t offset = 0) {
    SIZE_T moved = 0;
    ::ReadProcessMemory(process_, at_ + offset, data, bytes, &moved);
  }

 private:
  HANDLE process_;
  char* at_;
};

// The labels of the tree's items, read through memory in the window's own
// process, as one process reads another's tree view.
std::vector<std::wstring> TreeLabels(HWND window) {
  HWND tree = ::GetDlgItem(window, IDC_TREE);
  constexpr size_t kChars = 1024;
  Remote remote(window, sizeof(TVITEMW) + kChars * 2);
  std::vector<std::wstring> labels;
  std::function<void(HTREEITEM)> walk = [&](HTREEITEM item) {
    for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
      TVITEMW asked{TVIF_TEXT};
      asked.hItem = item;
      asked.pszText = reinterpret_cast<wchar_t*>(remote.At() + sizeof(TVITEMW));
      asked.cchTextMax = kChars;
      wchar_t text[kChars] = L"";
      remote.Put(&asked, sizeof asked);
      ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.At()));
      remote.Get(text, sizeof text - 2, sizeof(TVITEMW));
      labels.push_back(text);
      walk(TreeView_GetChild(tree, item));
    }
  };
  walk(TreeView_GetRoot(tree));
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
  if (g_chinese) {
    return status.find(L" 个已是最新") != std::wstring::npos && !status.starts_with(L"正在");
  }
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

// A menu's item.
std::wstring MenuText(HMENU menu, UINT position) {
  wchar_t text[256] = L"";
  ::GetMenuStringW(menu, position, text, 256, MF_BYPOSITION);
  return text;
}

// The menu bar the window loads for this UI language, from its own
// resources: Wine keeps a menu in the process that made it, so another
// process cannot read the window's.
std::wstring MenuBarText(UINT item, UINT position) {
  HMODULE exe = ::LoadLibraryExW(g_windowExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  window::Speak(window::ChooseLanguage(window::settings::Language(), ::GetUserDefaultUILanguage()));
  HMENU bar = window::LoadMenuBar(exe);
  std::wstring texts = MenuText(bar, item);
  texts += L' ';
  texts += MenuText(::GetSubMenu(bar, static_cast<int>(item)), position);
  ::DestroyMenu(bar);
  ::FreeLibrary(exe);
  return texts;
}

// Under a Chinese UI language the window speaks Chinese throughout, names
// in any script shown as they are, and writes the bytes the tree tool
// writes; the View menu's choice of English holds until Automatic.
TEST(WindowInChinese, SpeaksChineseAndUpdatesTheSameBytes) {
  EXPECT_EQ(PRIMARYLANGID(::GetUserDefaultUILanguage()), LANG_CHINESE);
  const fs::path work(g_work);
  const fs::path mod = work / L"模组" / "Data";
  const fs::path reference = work / L"参照" / "Data";
  fs::remove_all(mod.parent_path());
  fs::remove_all(reference.parent_path());
  for (const fs::path& root : {mod, reference}) {
    MakeMod(root);
    fs::create_directories(root / L"单位");
    Write(root / L"单位" / L"坦克.xml", "<x/>");
  }
  const PROCESS_INFORMATION tree = Start(g_treeExe, reference.wstring(), L"-q ");
  ASSERT_EQ(WaitForEnd(tree.hProcess), 0u);
  ::CloseHandle(tree.hProcess);
  PROCESS_INFORMATION started{};
  HWND window = StartOn(mod.wstring(), &started);
  ASSERT_NE(window, nullptr);

  EXPECT_TRUE(Status(window).starts_with(L"已查看 6 个文件夹，6 个清单缺失或过期，0 个已是最新，0 个失败，"
                                         L"1 个警告；状态截至 "))
      << Status(window).size();
  std::map<std::wstring, std::wstring> states = States(window);
  EXPECT_EQ(states[L"单位"], L"缺失");
  EXPECT_EQ(states[L"Units"], L"过期");
  EXPECT_EQ(states[L".git"], L"已跳过");
  EXPECT_TRUE(Text(window).ends_with(L"\\Data - 模组清单"));
  EXPECT_EQ(MenuBarText(0, 1), L"文件(&F) 更新(&U)\tF5");
  EXPECT_EQ(MenuBarText(1, 0), L"查看(&V) 语言(&L)");
  EXPECT_EQ(Text(::GetDlgItem(window, IDC_KEEP_CURRENT_BOX)), L"保持最新(&K)");

  ::SendMessageW(::GetDlgItem(window, IDC_UPDATE_BUTTON), BM_CLICK, 0, 0);
  ASSERT_TRUE(Eventually([&] { return Shown(window) && Status(window).find(L"已写入 6 个清单") != std::wstring::npos; }));
  EXPECT_EQ(States(window)[L"单位"], L"已写入");
  ASSERT_EQ(Manifests(mod), Manifests(reference));
  for (const std::string& manifest : Manifests(reference)) {
    EXPECT_EQ(Read(mod / manifest), Read(reference / manifest)) << manifest;
  }

  // English chosen: said at once, Explorer's entry too, and kept;
  // Automatic forgets it.
  const auto caption = [] {
    wchar_t text[256] = L"";
    DWORD bytes = sizeof text;
    ::RegGetValueW(HKEY_CURRENT_USER, window::settings::kExplorerKey, nullptr, RRF_RT_REG_SZ, nullptr, text, &bytes);
    return std::wstring(text);
  };
  ::SendMessageW(window, WM_COMMAND, IDM_EXPLORER_ADD, 0);
  EXPECT_EQ(caption(), L"更新模组清单");
  ::SendMessageW(window, WM_COMMAND, IDM_LANGUAGE_ENGLISH, 0);
  EXPECT_EQ(caption(), L"Update mod manifests");
  ::SendMessageW(window, WM_COMMAND, IDM_EXPLORER_REMOVE, 0);
  EXPECT_EQ(Text(::GetDlgItem(window, IDC_UPDATE_BUTTON)), L"&Update");
  EXPECT_EQ(States(window)[L"单位"], L"written");
  EXPECT_EQ(window::settings::Language(), L"en");
  EXPECT_EQ(MenuBarText(0, 1), L"&File &Update\tF5");
  ::SendMessageW(window, WM_COMMAND, IDM_LANGUAGE_AUTO, 0);
  EXPECT_TRUE(Status(window).starts_with(L"已查看 6 个文件夹，已写入 6 个清单")) << Status(window).size();
  EXPECT_EQ(window::settings::Language(), L"");
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

// Keep current turned on, a file added to every folder (*folders), and Keep
// current turned off once the batch has written its first manifest: the
// seconds from the stop asked to the window ready again, "Stopping..." said
// until it was; negative when the watch or its batch never began.
double StopInBatch(HWND window, const fs::path& root, const char* name, std::vector<fs::path>* folders) {
  HWND keep = ::GetDlgItem(window, IDC_KEEP_CURRENT_BOX), log = ::GetDlgItem(window, IDC_LOG);
  ::SendMessageW(keep, BM_CLICK, 0, 0);
  if (!Eventually([&] { return Text(log).find(L" for changes") != std::wstring::npos; }, 300)) return -1;
  const size_t logged = Text(log).size();
  *folders = AddToEvery(root, name);
  if (!Eventually([&] { return Text(log).find(L" wrote ", logged) != std::wstring::npos; }, 300, 10)) return -1;
  const ULONGLONG asked = ::GetTickCount64();
  ::SendMessageW(keep, BM_CLICK, 0, 0);
  return StopTakes(window, [&] {
    return ::SendMessageW(keep, BM_GETCHECK, 0, 0) == BST_UNCHECKED &&
           ::IsWindowEnabled(::GetDlgItem(window, IDC_UPDATE_BUTTON));
  }, asked);
}

// Removes a folder as a Linux shell does, at once, whatever holds it open
// (Wine, as Windows, removes a folder held open only once its last handle
// is closed, and the watch holds ROOT). Wine starts a Unix program as it
// starts any other.
std::wstring UnixPath(const fs::path& path) {
  std::wstring unix = path.wstring().substr(2);  // Z:\x\y -> /x/y
  for (wchar_t& c : unix) c = c == L'\\' ? L'/' : c;
  return unix;
}

bool RemoveAtOnce(const fs::path& folder) {
  std::wstring line = L"rm -rf \"" + UnixPath(folder) + L"\"";
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

// A folder dropped onto the window from Explorer: the drop's files as the
// window's process holds them (a handle of one process means nothing in
// another's).
void Drop(HWND window, const fs::path& folder) {
  const std::wstring path = folder.wstring();
  std::vector<char> drop(sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t), 0);
  auto* files = reinterpret_cast<DROPFILES*>(drop.data());
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  std::memcpy(drop.data() + sizeof(DROPFILES), path.c_str(), path.size() * sizeof(wchar_t));
  Remote remote(window, drop.size());
  remote.Put(drop.data(), drop.size());
  ::SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote.At()), 0);
}

std::wstring Clipboard() {
  std::wstring text;
  HANDLE data = ::OpenClipboard(nullptr) ? ::GetClipboardData(CF_UNICODETEXT) : nullptr;
  if (const auto* held = data == nullptr ? nullptr : static_cast<const wchar_t*>(::GlobalLock(data))) {
    text = held;
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return text;
}

// The row menu of the row selected in the focused control, by the menu
// key (VK_APPS, or Shift+F10), then its item by its underlined letter.
void RowMenu(WORD item, bool shiftF10 = false) {
  shiftF10 ? Press(VK_F10, {VK_SHIFT}) : Press(VK_APPS);
  ASSERT_TRUE(Eventually([] {
    HWND menu = ::FindWindowW(L"#32768", nullptr);
    return menu != nullptr && ::IsWindowVisible(menu);
  }, 10)) << "no menu";
  Press(item);
}

// A value of the user's registry (a key of the suite's own prefix); text
// when bytes is 0.
void SetValue(HKEY key, const wchar_t* path, const wchar_t* name, DWORD type, const void* data, DWORD bytes = 0) {
  if (bytes == 0) bytes = static_cast<DWORD>((wcslen(static_cast<const wchar_t*>(data)) + 1) * sizeof(wchar_t));
  ::RegSetKeyValueW(key, path, name, type, data, bytes);
}

// Every gesture, as a table run against one start of the window (each
// start under Wine costs seconds): each row a gesture and what it must
// show, in turn, on the state the rows before it left. The start itself is
// a folder dropped onto the exe (the folder as its argument), as the suite's
// first case is too.
TEST(Window, AnswersEveryGesture) {
  const fs::path work(g_work), mod = work / "Keys" / "Data", gone = work / "Gone" / "Data";
  const fs::path big = work / "Big" / "Data";
  for (const fs::path& root : {mod, gone, big}) fs::remove_all(root.parent_path());
  MakeMod(mod);
  MakeMod(gone);
  constexpr int kFolders = 2000;
  MakeBigMod(big, kFolders);
  // Started at 144 DPI on a placement left at 96 DPI on a monitor since
  // gone; manifests open with a program that notes what it opened.
  const DWORD dpi144 = 144, dpi96 = 96;
  SetValue(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi144, sizeof dpi144);
  SetValue(HKEY_CURRENT_USER, window::settings::kKey, L"WindowPlacementDpi", REG_DWORD, &dpi96, sizeof dpi96);
  WINDOWPLACEMENT place{sizeof place, 0, SW_SHOWNORMAL, {}, {}, {4000, 4000, 4600, 4400}};
  SetValue(HKEY_CURRENT_USER, window::settings::kKey, L"WindowPlacement", REG_BINARY, &place, sizeof place);
  const fs::path opened = work / "opened.txt";
  fs::remove(opened);
  // A Unix program, as RemoveAtOnce starts one: no console window of
  // Wine's comes in front of the window.
  const std::wstring opener = L"Z:\\bin\\bash -c \"echo \\\"$0\\\" >> '" + UnixPath(opened) + L"'\" \"%1\"";
  SetValue(HKEY_CLASSES_ROOT, L".xml", nullptr, REG_SZ, L"modmanifest.test");
  SetValue(HKEY_CLASSES_ROOT, L"modmanifest.test\\shell\\open\\command", nullptr, REG_SZ, opener.c_str());

  PROCESS_INFORMATION started{};
  // A path ending in \", as a batch file's "%~dp0" gives it.
  HWND window = StartOn(mod.wstring() + L"\\", &started);
  ASSERT_NE(window, nullptr);
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels");
  const std::wstring title = Text(window);
  HWND update = ::GetDlgItem(window, IDC_UPDATE_BUTTON), keep = ::GetDlgItem(window, IDC_KEEP_CURRENT_BOX);
  HWND log = ::GetDlgItem(window, IDC_LOG), list = ::GetDlgItem(window, IDC_ATTENTION_LIST);
  const int order[] = {IDC_TREE, IDC_ATTENTION_LIST, IDC_DETAILS, IDC_LOG,
                       IDC_OPEN_BUTTON, IDC_UPDATE_BUTTON, IDC_KEEP_CURRENT_BOX, IDC_TREE};
  const auto focusOn = [&](int id) { return Eventually([&] { return Focused(window) == id; }, 10); };
  RECT r{};
  const auto rect = [&](HWND hwnd) -> const RECT& { ::GetWindowRect(hwnd, &r); return r; };
  const auto buttonHeight = [&] { rect(::GetDlgItem(window, IDC_OPEN_BUTTON)); return r.bottom - r.top; };

  const struct {
    const char* gesture;
    std::function<void()> shows;
  } rows[] = {
      {"a start at 144 DPI: the size left at 96 DPI, on the monitor; the focus in the tree", [&] {
         rect(window);
         EXPECT_EQ(r.right - r.left, 900);
         EXPECT_EQ(r.bottom - r.top, 600);
         EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= 1024 && r.bottom <= 768) << r.left << "," << r.top;
         EXPECT_EQ(buttonHeight(), 39);
         // Scroll bars only when the text needs them: none for a short log.
         EXPECT_EQ(::GetWindowLongW(log, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL), 0);
         EXPECT_TRUE(focusOn(IDC_TREE)) << Focused(window);
         // The tree tool takes the same line: a check that finds manifests
         // missing (1), not a ROOT refused (2).
         const PROCESS_INFORMATION check = Start(g_treeExe, mod.wstring() + L"\\", L"--check -q ");
         EXPECT_EQ(WaitForEnd(check.hProcess), 1u);
         ::CloseHandle(check.hProcess);
       }},
      {"Tab and Shift+Tab: round every control, wrapping", [&] {
         for (size_t i = 1; i < std::size(order); ++i) {
           Press(VK_TAB);
           EXPECT_TRUE(focusOn(order[i])) << i << ": " << Focused(window);
         }
         for (size_t i = std::size(order) - 1; i-- > 0;) {
           Press(VK_TAB, {VK_SHIFT});
           EXPECT_TRUE(focusOn(order[i])) << i << ": " << Focused(window);
         }
       }},
      {"Escape in each pane, then Tab: the window stays", [&] {
         // Once the Tab has moved the focus, any close the Escape asked for
         // would have come first (input is taken after posted messages).
         for (size_t i = 0; i < 4; ++i) {
           Press(VK_ESCAPE);
           Press(VK_TAB);
           EXPECT_TRUE(focusOn(order[i + 1])) << i;
           ASSERT_TRUE(::IsWindow(window)) << "Escape closed the window in pane " << order[i];
         }
       }},
      {"About, then the folder picker cancelled: the focus back in the list", [&] {
         for (int i = 0; i < 3; ++i) Press(VK_TAB, {VK_SHIFT});
         ASSERT_TRUE(focusOn(IDC_ATTENTION_LIST));
         ::PostMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
         ASSERT_TRUE(Eventually([&] { return BoxOf(window) != nullptr; }));
         ::SetForegroundWindow(BoxOf(window));
         Press(VK_RETURN);
         EXPECT_TRUE(Eventually([&] { return BoxOf(window) == nullptr && Focused(window) == IDC_ATTENTION_LIST; }, 10))
             << Focused(window);
         Press('O', {VK_CONTROL});
         ASSERT_TRUE(Eventually([&] { return BoxOf(window) != nullptr; }));
         ::PostMessageW(BoxOf(window), WM_COMMAND, IDCANCEL, 0);
         EXPECT_TRUE(Eventually([&] { return BoxOf(window) == nullptr && Focused(window) == IDC_ATTENTION_LIST; }, 10))
             << Focused(window);
         EXPECT_EQ(Text(window), title);
       }},
      {"the row menu: Open manifest greyed while missing, else opening it; Copy path", [&] {
         // The first line, ROOT's Mod.xml, is missing: its Open manifest does
         // nothing. Then down to Units, whose manifest is there.
         Press(VK_HOME);
         ASSERT_NO_FATAL_FAILURE(RowMenu('M'));
         HWND details = ::GetDlgItem(window, IDC_DETAILS);
         ASSERT_TRUE(Eventually([&] {
           if (Text(details).find(L"Units\\zenter.xml (stale)") != std::wstring::npos) return true;
           Press(VK_DOWN);
           return false;
         }, 10, 300));
         ASSERT_NO_FATAL_FAILURE(RowMenu('M', true));
         EXPECT_TRUE(Eventually([&] { return Read(opened).find("zenter.xml") != std::string::npos; }));
         EXPECT_EQ(Read(opened), (mod / "Units" / "zenter.xml").string() + "\n");
         ASSERT_NO_FATAL_FAILURE(RowMenu('C'));
         EXPECT_TRUE(Eventually([&] { return Clipboard() == (mod / "Units").wstring(); }, 10));
       }},
      {"a DPI change to 96: the rectangle Windows suggests, the controls refitted", [&] {
         const RECT suggested{40, 30, 840, 590};
         Remote remote(window, sizeof suggested);
         remote.Put(&suggested, sizeof suggested);
         ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(remote.At()));
         EXPECT_TRUE(EqualRect(&rect(window), &suggested)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
         EXPECT_EQ(buttonHeight(), 26);
         // The last column fills what the others leave.
         RECT client;
         ::GetClientRect(list, &client);
         int columns = 0;
         for (int i = 0; i < 3; ++i) columns += static_cast<int>(ListView_GetColumnWidth(list, i));
         EXPECT_EQ(columns, client.right);
       }},
      {"the folder picker, a drive's root chosen: refused where the tree was, not kept", [&] {
         Press('O', {VK_CONTROL});
         ASSERT_TRUE(Eventually([&] { return BoxOf(window) != nullptr; }));
         HWND box = BoxOf(window), name = nullptr;
         for (HWND edit = nullptr; name == nullptr && (edit = ::FindWindowExW(box, edit, L"Edit", nullptr));) {
           if (::IsWindowVisible(edit)) name = edit;
         }
         ASSERT_NE(name, nullptr) << "the picker has no name box";
         ::SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Z:\\"));
         ::PostMessageW(box, WM_COMMAND, IDOK, 0);
         ASSERT_TRUE(Eventually([&] { return Status(window).find(L"cannot be opened") != std::wstring::npos; }));
         std::vector<std::wstring> labels = TreeLabels(window);
         ASSERT_EQ(labels.size(), 1u);
         EXPECT_NE(labels[0].find(L"the root of a drive or share is no mod folder"), std::wstring::npos);
         EXPECT_FALSE(::IsWindowEnabled(update));
         EXPECT_FALSE(::IsWindowEnabled(keep));
         EXPECT_EQ(fs::path(window::settings::LastFolder()), mod);
       }},
      {"a folder dropped onto the window, kept current, removed: said so", [&] {
         Drop(window, gone);
         ASSERT_TRUE(Eventually([&] { return Shown(window) && Text(window).starts_with(gone.wstring()); }));
         ::SendMessageW(keep, BM_CLICK, 0, 0);
         ASSERT_TRUE(Eventually([&] { return Text(log).find(L" for changes") != std::wstring::npos; }));
         ASSERT_TRUE(RemoveAtOnce(gone));
         EXPECT_TRUE(Eventually([&] { return Status(window).find(L"cannot be opened: it was removed") != std::wstring::npos; }, 60))
             << Status(window).size();
         EXPECT_EQ(TreeLabels(window).size(), 1u);
         EXPECT_FALSE(::IsWindowEnabled(keep));
         EXPECT_EQ(::SendMessageW(keep, BM_GETCHECK, 0, 0), BST_UNCHECKED);
       }},
      {"Stop during an update, from its own button: stopped in the midst", [&] {
         Drop(window, big);
         ASSERT_TRUE(Eventually([&] { return Shown(window) && Text(window).starts_with(big.wstring()); }, 120));
         ::SendMessageW(update, BM_CLICK, 0, 0);
         ASSERT_TRUE(Eventually([&] {
           const std::wstring status = Status(window);
           return status.starts_with(L"Updating:") && status.find(L" 0 written") == std::wstring::npos;
         }, 60, 10));
         EXPECT_EQ(Text(update), L"&Stop");
         const ULONGLONG asked = ::GetTickCount64();
         ::SendMessageW(update, BM_CLICK, 0, 0);
         const double s = StopTakes(window, [&] { return Text(update) == L"&Update" && Shown(window); }, asked);
         std::printf("stop during an update of %d folders: %.2f s\n", kFolders, s);
         EXPECT_FALSE(HasTemporaryFile(big));
         EXPECT_LT(Manifests(big).size(), static_cast<size_t>(kFolders));
       }},
      {"Keep current turned off in a watch's batch: stopped; the states a snapshot", [&] {
         ::SendMessageW(update, BM_CLICK, 0, 0);
         ASSERT_TRUE(Eventually([&] { return Shown(window) && Manifests(big).size() == kFolders; }, 300));
         std::vector<fs::path> folders;
         const double s = StopInBatch(window, big, "new.xml", &folders);
         ASSERT_GE(s, 0) << "the watch's batch never began";
         std::printf("stop during a watch's batch of %d folders: %.2f s\n", kFolders, s);
         EXPECT_LT(ManifestsHolding(folders, "new.xml"), kFolders / 2);
         EXPECT_FALSE(HasTemporaryFile(big));
         EXPECT_NE(Text(log).find(L" no longer kept current"), std::wstring::npos);
         EXPECT_NE(::GetWindowLongW(log, GWL_STYLE) & WS_VSCROLL, 0);
         EXPECT_NE(Status(window).find(L"; states as of "), std::wstring::npos) << Status(window).size();
       }},
      {"Check again (Ctrl+R): what the stop left stale", [&] {
         Press('R', {VK_CONTROL});
         ASSERT_TRUE(Eventually([&] {
           const std::wstring status = Status(window);
           return Shown(window) && status.find(L" missing or stale") != std::wstring::npos &&
                  status.find(L" 0 manifests missing or stale") == std::wstring::npos;
         }, 120)) << Status(window).size();
       }},
      {"closing in the midst of a watch's batch: the process ends, nothing left", [&] {
         ::SendMessageW(keep, BM_CLICK, 0, 0);
         ASSERT_TRUE(Eventually([&] { return ::IsWindowEnabled(update) == FALSE && Shown(window); }, 300));
         const size_t watched = Text(log).size();
         const std::vector<fs::path> folders = AddToEvery(big, "newer.xml");
         ASSERT_TRUE(Eventually([&] { return Text(log).find(L" wrote ", watched) != std::wstring::npos; }, 120, 10));
         const ULONGLONG asked = ::GetTickCount64();
         CloseAndWait(window, started);
         std::printf("close during a watch's batch of %d folders: %.2f s\n", kFolders, Since(asked));
         EXPECT_LT(ManifestsHolding(folders, "newer.xml"), kFolders / 2);
         EXPECT_FALSE(HasTemporaryFile(big));
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.gesture);
    // Keys go to the window in front (a program a row started may have
    // come in front of it).
    ::SetForegroundWindow(window);
    row.shows();
    if (HasFatalFailure()) break;
  }
  if (::WaitForSingleObject(started.hProcess, 0) == WAIT_TIMEOUT) CloseAndWait(window, started);
  ::RegDeleteKeyValueW(HKEY_CLASSES_ROOT, L".xml", nullptr);
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"modmanifest.test");
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

// StopInBatch on a tree whose manifests are current: prints the seconds,
// the manifests the batch wrote, and the folders.
int StopTime(const std::wstring& program, const fs::path& folder) {
  const PROCESS_INFORMATION started = Start(program, folder.wstring());
  HWND window = nullptr;
  if (!Eventually([&] { return (window = WindowOf(started.dwProcessId)) != nullptr && Shown(window); }, 300)) {
    return 1;
  }
  std::vector<fs::path> folders;
  const double s = StopInBatch(window, folder, "stop.xml", &folders);
  std::printf("%.2f %d %zu\n", s, ManifestsHolding(folders, "stop.xml"), folders.size());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  WaitForEnd(started.hProcess);
  ::CloseHandle(started.hProcess);
  return s >= 0 ? 0 : 1;
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
  g_chinese = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_CHINESE;
  if (count == 4 && wcscmp(args[1], L"--show") == 0) return Show(args[2], args[3]);
  if (count == 2 && wcscmp(args[1], L"--close") == 0) return Close();
  if (count == 4 && wcscmp(args[1], L"--stop") == 0) return StopTime(args[2], args[3]);
  if (count == 6 && wcscmp(args[1], L"--time") == 0) return Time(args[2], args[3], args[4], _wtoi(args[5]));
  if (count < 4) {
    std::fprintf(stderr, "usage: window_driver WINDOW_EXE TREE_EXE WORK_FOLDER\n");
    return 2;
  }
  g_windowExe = args[1];
  g_treeExe = args[2];
  g_work = args[3];
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(filter) == "*") {
    testing::GTEST_FLAG(filter) = g_chinese ? "WindowInChinese.*" : "-WindowInChinese.*";
  }
  return RUN_ALL_TESTS();
}
