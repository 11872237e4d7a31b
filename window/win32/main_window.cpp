#include "window/win32/main_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/folder_access.h"
#include "platform/win32/win32_text.h"
#include "window/engine/run_thread.h"
#include "window/model/manifest_tree.h"
#include "window/win32/settings.h"
#include "window/win32/wide_text.h"
#include "window/win32/window_ids.h"

namespace window {
namespace {

constexpr UINT kEventsMessage = WM_APP + 1;  // the run queued events
constexpr UINT kEndedMessage = WM_APP + 2;   // wParam: the job, lParam: its status
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMilliseconds = 150;
// Events are taken this long after the run says it has some, so that a busy
// run hands them over in batches rather than one message each.
constexpr UINT_PTR kTakeTimer = 2;
constexpr UINT kTakeMilliseconds = 40;
constexpr ULONGLONG kAttentionMilliseconds = 1000;
// Up to this many folders, the whole tree is shown opened once a check ends.
constexpr unsigned long kOpenAllFolders = 300;
constexpr wchar_t kTitle[] = L"Mod manifests";

// The DPI the window is shown at (per monitor where Windows tells it).
UINT DpiOf(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi != nullptr) {
    if (const UINT dpi = getDpi(hwnd)) return dpi;
  }
  HDC dc = ::GetDC(hwnd);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(hwnd, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// How two starts tell that they are on the same folder: its full path in
// upper case.
std::wstring FolderKey(const std::wstring& fullPath) {
  std::wstring key = fullPath;
  while (key.size() > 3 && key.back() == L'\\') key.pop_back();
  if (!key.empty()) ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

// A folder the user named, as the engine takes it: its full path, checked to
// be a folder. False with *problem set otherwise.
bool ResolveFolder(const std::wstring& given, std::wstring* full, std::string* problem) {
  std::string resolved;
  os::Dword error = 0;
  if (!os::FullPath(Utf8(given), &resolved, &error)) {
    *problem = "cannot find the folder " + Utf8(given);
    return false;
  }
  os::win32::WideBuffer system;
  const DWORD attributes = os::win32::SystemPath(resolved.c_str(), &system)
                               ? ::GetFileAttributesW(system.data())
                               : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *problem = Utf8(given) + " is not a folder";
    return false;
  }
  *full = Wide(resolved);
  return true;
}

class MainWindow {
 public:
  explicit MainWindow(HINSTANCE instance)
      : instance_(instance),
        queue_([this] {
          if (HWND hwnd = poster_.load()) ::PostMessageW(hwnd, kEventsMessage, 0, 0);
        }),
        runs_(queue_, [this](RunThread::Job job, int status) {
          endedStatus_.store(status);
          ended_.store(true);
          if (HWND hwnd = poster_.load()) {
            ::PostMessageW(hwnd, kEndedMessage, static_cast<WPARAM>(job), status);
          }
        }) {}

  static bool Register(HINSTANCE instance);
  // Starts the check of a folder (a full path): before the window is made,
  // so that under Wine, where making a window costs as much as walking a
  // small tree, the two go on at once.
  void Begin(const std::wstring& full);
  // problem: why the folder the program was started on cannot be opened.
  bool Create(int show, const std::string& problem);
  HWND Handle() const { return hwnd_; }
  // After the message loop: whether a check still runs (it writes nothing,
  // so the process need not wait for it).
  bool Checking() const { return runs_.Busy() && job_ == RunThread::Job::Check; }
  ~MainWindow();

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void SetFonts();
  void Layout();
  void Command(unsigned id);
  LRESULT Notify(NMHDR* header);

  void Open(const std::wstring& folder);
  void Start(RunThread::Job job);
  void Ended(RunThread::Job job, int status);
  void Close();
  std::wstring PickFolder();
  void ExplorerEntry(bool add);
  void UpdateCommands();

  void ApplyEvents();
  void SyncTree();
  void Refresh();
  void InsertRow(const Row& row, const Row& parent);
  void Populate(const std::string& path);
  void Reveal(const std::string& path);
  void OpenAll(const std::string& path);
  void ShowDetails();
  void AppendLog();
  LRESULT DrawTreeItem(NMTVCUSTOMDRAW* draw);
  void ListText(NMLVDISPINFOW* info);
  void Fail(const std::string& text);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  // What the run's thread may post to (null until the window is made), and
  // the end of a run that it could not yet post; taken once.
  std::atomic<HWND> poster_{nullptr};
  std::atomic<bool> ended_{false};
  std::atomic<int> endedStatus_{0};
  HWND openButton_ = nullptr, updateButton_ = nullptr, keepBox_ = nullptr;
  HWND tree_ = nullptr, list_ = nullptr, details_ = nullptr, log_ = nullptr, status_ = nullptr;
  HFONT font_ = nullptr, fixedFont_ = nullptr;
  UINT dpi_ = 96;

  ManifestTree model_;
  EventQueue queue_;
  RunThread runs_;
  RunThread::Job job_ = RunThread::Job::Check;
  bool watching_ = false;
  bool closing_ = false;
  std::wstring folder_;     // full path of the folder shown
  std::wstring folderKey_;  // FolderKey(folder_)
  std::wstring pending_;    // a folder to open once the run in hand has ended

  std::unordered_map<HTREEITEM, std::string> paths_;
  std::unordered_set<std::string> populated_;  // rows whose sub-folders are in the tree
  std::vector<Attention> attention_;
  ULONGLONG attentionAt_ = 0;  // when attention_ was made
  std::string selected_;
  size_t logShown_ = 0;
  bool dirty_ = false;
};

MainWindow::~MainWindow() {
  if (font_ != nullptr) ::DeleteObject(font_);
  if (fixedFont_ != nullptr) ::DeleteObject(fixedFont_);
}

bool MainWindow::Register(HINSTANCE instance) {
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = &Procedure;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0,
                                             LR_DEFAULTSIZE));
  wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = ids::kWindowClass;
  return ::RegisterClassExW(&wc) != 0;
}

HMENU MakeMenu() {
  HMENU file = ::CreatePopupMenu();
  ::AppendMenuW(file, MF_STRING, ids::kOpenFolder, L"&Open folder...\tCtrl+O");
  ::AppendMenuW(file, MF_STRING, ids::kUpdate, L"&Update\tF5");
  ::AppendMenuW(file, MF_STRING, ids::kKeepCurrent, L"&Keep current\tCtrl+K");
  ::AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(file, MF_STRING, ids::kExit, L"E&xit\tAlt+F4");
  HMENU explorer = ::CreatePopupMenu();
  ::AppendMenuW(explorer, MF_STRING, ids::kExplorerAdd,
                L"&Add \"Update mod manifests\" to the folder menu");
  ::AppendMenuW(explorer, MF_STRING, ids::kExplorerRemove,
                L"&Remove \"Update mod manifests\" from the folder menu");
  HMENU help = ::CreatePopupMenu();
  ::AppendMenuW(help, MF_STRING, ids::kAbout, L"&About");
  HMENU bar = ::CreateMenu();
  ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
  ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(explorer), L"&Explorer");
  ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
  return bar;
}

bool MainWindow::Create(int show, const std::string& problem) {
  hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES, ids::kWindowClass, kTitle,
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, MakeMenu(), instance_, this);
  if (hwnd_ == nullptr) return false;
  WINDOWPLACEMENT place{};
  if (settings::WindowPlace(&place)) {
    // Shown as the user left it, but never minimised.
    if (place.showCmd == SW_SHOWMINIMIZED || place.showCmd == SW_MINIMIZE) place.showCmd = SW_SHOWNORMAL;
    if (show != SW_SHOWDEFAULT && show != SW_SHOWNORMAL) place.showCmd = show;
    ::SetWindowPlacement(hwnd_, &place);
  } else {
    const int scale = static_cast<int>(DpiOf(hwnd_));
    ::SetWindowPos(hwnd_, nullptr, 0, 0, ::MulDiv(900, scale, 96), ::MulDiv(620, scale, 96),
                   SWP_NOMOVE | SWP_NOZORDER);
    ::ShowWindow(hwnd_, show);
  }
  ::SetTimer(hwnd_, kRefreshTimer, kRefreshMilliseconds, nullptr);
  // From here on the run posts what it has; what it had is taken now.
  poster_.store(hwnd_);
  if (!folder_.empty()) {
    ::SetWindowTextW(hwnd_, (folder_ + L" - " + kTitle).c_str());
    ApplyEvents();
    if (ended_.exchange(false)) Ended(job_, endedStatus_.load());
  } else {
    model_.Reset("");
    ::SetWindowTextW(status_, L"Open your mod's folder (Ctrl+O), or drop it onto this window.");
    if (!problem.empty()) Fail(problem);
  }
  UpdateCommands();
  return true;
}

LRESULT CALLBACK MainWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      dpi_ = DpiOf(hwnd_);
      CreateControls();
      return 0;
    case WM_SIZE:
      ::SendMessageW(status_, WM_SIZE, 0, 0);
      Layout();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      SetFonts();
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return 0;
    }
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {::MulDiv(480, static_cast<int>(dpi_), 96),
                              ::MulDiv(360, static_cast<int>(dpi_), 96)};
      return 0;
    }
    case WM_COMMAND:
      Command(LOWORD(wParam));
      return 0;
    case WM_NOTIFY:
      return Notify(reinterpret_cast<NMHDR*>(lParam));
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wParam);
      const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
      std::wstring dropped(length + 1, L'\0');
      ::DragQueryFileW(drop, 0, dropped.data(), length + 1);
      ::DragFinish(drop);
      dropped.resize(length);
      Open(dropped);
      return 0;
    }
    case WM_COPYDATA: {
      // A second start asks whether this window shows its folder.
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data->dwData != ids::kShowsFolder || folderKey_.empty()) return FALSE;
      const std::wstring key(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
      if (key != folderKey_) return FALSE;
      if (::IsIconic(hwnd_)) ::ShowWindow(hwnd_, SW_RESTORE);
      return TRUE;
    }
    case kEventsMessage:
      // The queue stays unempty, and so quiet, until the timer takes it.
      ::SetTimer(hwnd_, kTakeTimer, kTakeMilliseconds, nullptr);
      return 0;
    case kEndedMessage:
      if (ended_.exchange(false)) Ended(static_cast<RunThread::Job>(wParam), static_cast<int>(lParam));
      return 0;
    case WM_TIMER:
      if (wParam == kTakeTimer) {
        ::KillTimer(hwnd_, kTakeTimer);
        ApplyEvents();
      } else if (wParam == kRefreshTimer && dirty_) {
        Refresh();
      }
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      ::KillTimer(hwnd_, kRefreshTimer);
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

HWND Child(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, unsigned id,
           DWORD exStyle = 0) {
  return ::CreateWindowExW(exStyle, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                           reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                           nullptr);
}

void MainWindow::CreateControls() {
  // Created in tab order.
  openButton_ = Child(hwnd_, WC_BUTTONW, L"&Open folder...", WS_TABSTOP | BS_PUSHBUTTON, ids::kOpenButton);
  updateButton_ = Child(hwnd_, WC_BUTTONW, L"&Update", WS_TABSTOP | BS_PUSHBUTTON, ids::kUpdateButton);
  keepBox_ = Child(hwnd_, WC_BUTTONW, L"&Keep current", WS_TABSTOP | BS_AUTOCHECKBOX | BS_PUSHLIKE,
                   ids::kKeepCurrentBox);
  tree_ = Child(hwnd_, WC_TREEVIEWW, L"",
                WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                ids::kTree, WS_EX_CLIENTEDGE);
  list_ = Child(hwnd_, WC_LISTVIEWW, L"",
                WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                ids::kAttentionList, WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  const struct { const wchar_t* title; int width; } columns[] = {
      {L"Manifest or folder", 260}, {L"State", 70}, {L"Why", 260}};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH};
    column.pszText = const_cast<wchar_t*>(columns[i].title);
    column.cx = ::MulDiv(columns[i].width, static_cast<int>(dpi_), 96);
    ListView_InsertColumn(list_, i, &column);
  }
  const DWORD readOnlyText = WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                             ES_AUTOVSCROLL | ES_AUTOHSCROLL;
  details_ = Child(hwnd_, WC_EDITW, L"", readOnlyText, ids::kDetails, WS_EX_CLIENTEDGE);
  log_ = Child(hwnd_, WC_EDITW, L"", readOnlyText, ids::kLog, WS_EX_CLIENTEDGE);
  ::SendMessageW(log_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  status_ = Child(hwnd_, STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, ids::kStatusBar);
  SetFonts();
}

void MainWindow::SetFonts() {
  NONCLIENTMETRICSW metrics{sizeof metrics};
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW face = metrics.lfMessageFont;
  face.lfHeight = -::MulDiv(9, static_cast<int>(dpi_), 72);
  HFONT font = ::CreateFontIndirectW(&face);
  LOGFONTW fixed{};
  fixed.lfHeight = face.lfHeight;
  fixed.lfCharSet = DEFAULT_CHARSET;
  fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  wcscpy(fixed.lfFaceName, L"Consolas");
  HFONT fixedFont = ::CreateFontIndirectW(&fixed);
  for (HWND control : {openButton_, updateButton_, keepBox_, tree_, list_, status_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  for (HWND control : {details_, log_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fixedFont), TRUE);
  }
  if (font_ != nullptr) ::DeleteObject(font_);
  if (fixedFont_ != nullptr) ::DeleteObject(fixedFont_);
  font_ = font;
  fixedFont_ = fixedFont;
}

void MainWindow::Layout() {
  if (status_ == nullptr) return;
  const auto s = [this](int pixels) { return ::MulDiv(pixels, static_cast<int>(dpi_), 96); };
  RECT client, bar;
  ::GetClientRect(hwnd_, &client);
  ::GetWindowRect(status_, &bar);
  const int width = client.right;
  const int height = client.bottom - (bar.bottom - bar.top);
  const int gap = s(8), buttonHeight = s(26), buttonWidth = s(120);
  int x = gap;
  for (HWND button : {openButton_, updateButton_, keepBox_}) {
    ::MoveWindow(button, x, gap, buttonWidth, buttonHeight, TRUE);
    x += buttonWidth + gap;
  }
  const int top = gap + buttonHeight + gap;
  const int logHeight = std::max(s(70), (height - top) / 4);
  const int mainBottom = std::max(top + s(40), height - gap - logHeight - s(6));
  const int treeWidth = (width - 3 * gap) * 2 / 5;
  const int rightX = gap + treeWidth + gap;
  const int rightWidth = std::max(s(40), width - rightX - gap);
  const int listHeight = (mainBottom - top) / 2;
  ::MoveWindow(tree_, gap, top, treeWidth, mainBottom - top, TRUE);
  ::MoveWindow(list_, rightX, top, rightWidth, listHeight, TRUE);
  ::MoveWindow(details_, rightX, top + listHeight + s(6), rightWidth,
               mainBottom - top - listHeight - s(6), TRUE);
  ::MoveWindow(log_, gap, mainBottom + s(6), width - 2 * gap, height - mainBottom - s(6) - gap, TRUE);
}

void MainWindow::Command(unsigned id) {
  switch (id) {
    case ids::kOpenFolder:
    case ids::kOpenButton:
      if (const std::wstring folder = PickFolder(); !folder.empty()) Open(folder);
      break;
    case ids::kUpdate:
    case ids::kUpdateButton:
      Start(RunThread::Job::Update);
      break;
    case ids::kKeepCurrent:
    case ids::kKeepCurrentBox:
      if (watching_) {
        runs_.StopWatch();
        ::SetWindowTextW(status_, L"Stopping the watch...");
      } else {
        Start(RunThread::Job::Watch);
      }
      UpdateCommands();
      break;
    case ids::kExplorerAdd:
      ExplorerEntry(true);
      break;
    case ids::kExplorerRemove:
      ExplorerEntry(false);
      break;
    case ids::kAbout:
      ::MessageBoxW(hwnd_,
                    L"modmanifest 1.0.0\n\nShows, writes and keeps current the manifests of a mod's "
                    L"folders, as modmanifest-tree does.",
                    kTitle, MB_OK | MB_ICONINFORMATION);
      break;
    case ids::kExit:
      Close();
      break;
    default:
      break;
  }
}

void MainWindow::Open(const std::wstring& given) {
  std::wstring full;
  std::string problem;
  if (!ResolveFolder(given, &full, &problem)) {
    Fail(problem);
    return;
  }
  if (runs_.Busy()) {
    // A watch ends first; a check or an update finishes.
    pending_ = full;
    runs_.StopWatch();
    return;
  }
  ::SetWindowTextW(hwnd_, (full + L" - " + kTitle).c_str());
  TreeView_DeleteAllItems(tree_);
  paths_.clear();
  populated_.clear();
  selected_.clear();
  ::SetWindowTextW(details_, L"");
  ::SetWindowTextW(log_, L"");
  logShown_ = 0;
  Begin(full);
  SyncTree();
}

void MainWindow::Begin(const std::wstring& full) {
  folder_ = full;
  folderKey_ = FolderKey(full);
  settings::SetLastFolder(full);
  model_.Reset(Utf8(full));
  Start(RunThread::Job::Check);
}

void MainWindow::Start(RunThread::Job job) {
  if (folder_.empty() || runs_.Busy()) return;
  tree::Options options;
  options.root = Utf8(folder_);
  model_.BeginRun(job == RunThread::Job::Check);
  job_ = job;
  watching_ = job == RunThread::Job::Watch;
  runs_.Start(job, options);
  if (hwnd_ == nullptr) return;  // the window, once made, shows it
  Refresh();
  UpdateCommands();
}

void MainWindow::Ended(RunThread::Job job, int) {
  runs_.Join();
  ApplyEvents();
  model_.EndRun();
  watching_ = false;
  if (job == RunThread::Job::Check && model_.Count().folders + model_.Count().skipped <= kOpenAllFolders) {
    OpenAll("");
  }
  Refresh();
  // What a check found first is shown at once, with its include lines.
  if (job == RunThread::Job::Check && !attention_.empty() && selected_.empty()) {
    Reveal(attention_.front().path);
  }
  UpdateCommands();
  if (closing_) {
    ::DestroyWindow(hwnd_);
  } else if (!pending_.empty()) {
    const std::wstring next = std::move(pending_);
    pending_.clear();
    Open(next);
  }
}

void MainWindow::Close() {
  WINDOWPLACEMENT place{sizeof place};
  if (::GetWindowPlacement(hwnd_, &place)) settings::SetWindowPlace(place);
  // A watch ends as Ctrl-C ends it, an update writes what it began; a check
  // writes nothing and need not be waited for.
  if (runs_.Busy() && job_ != RunThread::Job::Check) {
    closing_ = true;
    runs_.StopWatch();
    ::SetWindowTextW(status_, L"Closing once the manifests in hand are written...");
    return;
  }
  ::DestroyWindow(hwnd_);
}

std::wstring MainWindow::PickFolder() {
  std::wstring picked;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog)))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(L"Open your mod's folder");
    IShellItem* item = nullptr;
    if (!folder_.empty() &&
        SUCCEEDED(::SHCreateItemFromParsingName(folder_.c_str(), nullptr, IID_IShellItem,
                                                reinterpret_cast<void**>(&item)))) {
      dialog->SetFolder(item);
      item->Release();
      item = nullptr;
    }
    if (SUCCEEDED(dialog->Show(hwnd_)) && SUCCEEDED(dialog->GetResult(&item))) {
      wchar_t* path = nullptr;
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        picked = path;
        ::CoTaskMemFree(path);
      }
      item->Release();
    }
    dialog->Release();
    return picked;
  }
  // Without the newer dialog: the folder browser.
  BROWSEINFOW browse{};
  browse.hwndOwner = hwnd_;
  browse.lpszTitle = L"Open your mod's folder";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  if (PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&browse)) {
    std::wstring path(os::win32::kLongestPath, L'\0');
    if (::SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
      picked = path.c_str();
    }
    ::CoTaskMemFree(list);
  }
  return picked;
}

void MainWindow::ExplorerEntry(bool add) {
  std::wstring program(os::win32::kLongestPath, L'\0');
  program.resize(::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
  const bool done = add ? settings::AddExplorerEntry(program) : settings::RemoveExplorerEntry();
  if (!done) {
    wchar_t text[256] = L"";
    ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     ::GetLastError(), 0, text, 256, nullptr);
    Fail(std::string(add ? "cannot add" : "cannot remove") + " the folder menu's entry: " + Utf8(text));
  }
  UpdateCommands();
}

void MainWindow::Fail(const std::string& text) {
  ::MessageBoxW(hwnd_, Wide(text).c_str(), kTitle, MB_OK | MB_ICONWARNING);
}

void MainWindow::UpdateCommands() {
  const bool open = !folder_.empty();
  const bool busy = runs_.Busy();
  const bool canUpdate = open && !busy && !closing_;
  const bool canWatch = open && !closing_ && (!busy || watching_);
  const bool canOpen = !closing_ && (!busy || watching_);
  ::EnableWindow(openButton_, canOpen);
  ::EnableWindow(updateButton_, canUpdate);
  ::EnableWindow(keepBox_, canWatch);
  ::SendMessageW(keepBox_, BM_SETCHECK, watching_ ? BST_CHECKED : BST_UNCHECKED, 0);
  HMENU menu = ::GetMenu(hwnd_);
  ::EnableMenuItem(menu, ids::kOpenFolder, canOpen ? MF_ENABLED : MF_GRAYED);
  ::EnableMenuItem(menu, ids::kUpdate, canUpdate ? MF_ENABLED : MF_GRAYED);
  ::EnableMenuItem(menu, ids::kKeepCurrent, canWatch ? MF_ENABLED : MF_GRAYED);
  ::CheckMenuItem(menu, ids::kKeepCurrent, watching_ ? MF_CHECKED : MF_UNCHECKED);
  const bool entry = settings::ExplorerEntryPresent();
  ::EnableMenuItem(menu, ids::kExplorerAdd, entry ? MF_GRAYED : MF_ENABLED);
  ::EnableMenuItem(menu, ids::kExplorerRemove, entry ? MF_ENABLED : MF_GRAYED);
}

// What the run queued, into the model, and the tree brought in line at once;
// the list, the details and the counts follow on the timer.
void MainWindow::ApplyEvents() {
  ::KillTimer(hwnd_, kTakeTimer);
  for (RunEvent& event : queue_.Take()) model_.Apply(std::move(event));
  SyncTree();
  AppendLog();
  dirty_ = true;
  if (!model_.Running()) Refresh();
}

void MainWindow::SyncTree() {
  for (const ViewChange& change : model_.TakeChanges()) {
    const Row* row = model_.Find(change.path);
    switch (change.kind) {
      case ViewChange::Kind::Added: {
        if (row == nullptr || row->tag != 0) break;
        if (row->path.empty()) {
          TVINSERTSTRUCTW insert{TVI_ROOT, TVI_LAST};
          const std::wstring label = Wide(model_.Label(*row));
          insert.item.mask = TVIF_TEXT | TVIF_CHILDREN;
          insert.item.pszText = const_cast<wchar_t*>(label.c_str());
          insert.item.cChildren = 1;
          const HTREEITEM item = TreeView_InsertItem(tree_, &insert);
          *model_.TagOf("") = reinterpret_cast<uintptr_t>(item);
          paths_[item] = "";
          populated_.insert("");
          break;
        }
        const std::string parentPath = row->path.substr(0, row->path.rfind('\\') == std::string::npos
                                                               ? 0
                                                               : row->path.rfind('\\'));
        const Row* parent = model_.Find(parentPath);
        if (parent == nullptr || parent->tag == 0) break;
        if (populated_.count(parentPath) != 0) {
          InsertRow(*row, *parent);
        } else {
          TVITEMW item{TVIF_CHILDREN};
          item.hItem = reinterpret_cast<HTREEITEM>(parent->tag);
          item.cChildren = 1;
          TreeView_SetItem(tree_, &item);
        }
        break;
      }
      case ViewChange::Kind::Updated: {
        if (row == nullptr || row->tag == 0) break;
        const std::wstring label = Wide(model_.Label(*row));
        TVITEMW item{TVIF_TEXT | TVIF_CHILDREN};
        item.hItem = reinterpret_cast<HTREEITEM>(row->tag);
        item.pszText = const_cast<wchar_t*>(label.c_str());
        item.cChildren = row->children.empty() ? 0 : 1;
        TreeView_SetItem(tree_, &item);
        break;
      }
      case ViewChange::Kind::Removed:
        populated_.erase(change.path);
        if (change.tag != 0) {
          const HTREEITEM item = reinterpret_cast<HTREEITEM>(change.tag);
          paths_.erase(item);
          TreeView_DeleteItem(tree_, item);
        }
        break;
    }
  }
}

// Inserts a row's item among its parent's, after the sibling before it that
// the tree shows.
void MainWindow::InsertRow(const Row& row, const Row& parent) {
  HTREEITEM after = TVI_FIRST;
  for (const std::string& sibling : parent.children) {
    if (sibling == row.path) break;
    if (const Row* before = model_.Find(sibling); before != nullptr && before->tag != 0) {
      after = reinterpret_cast<HTREEITEM>(before->tag);
    }
  }
  const std::wstring label = Wide(model_.Label(row));
  TVINSERTSTRUCTW insert{reinterpret_cast<HTREEITEM>(parent.tag), after};
  insert.item.mask = TVIF_TEXT | TVIF_CHILDREN;
  insert.item.pszText = const_cast<wchar_t*>(label.c_str());
  insert.item.cChildren = row.children.empty() ? 0 : 1;
  const HTREEITEM item = TreeView_InsertItem(tree_, &insert);
  *model_.TagOf(row.path) = reinterpret_cast<uintptr_t>(item);
  paths_[item] = row.path;
  TVITEMW parentItem{TVIF_CHILDREN};
  parentItem.hItem = reinterpret_cast<HTREEITEM>(parent.tag);
  parentItem.cChildren = 1;
  TreeView_SetItem(tree_, &parentItem);
  if (parent.path.empty() && parent.children.front() == row.path) {
    TreeView_Expand(tree_, reinterpret_cast<HTREEITEM>(parent.tag), TVE_EXPAND);
  }
}

// A folder's sub-folders go into the tree when it is first opened, so a
// tree of thousands of folders costs only what is shown.
void MainWindow::Populate(const std::string& path) {
  if (!populated_.insert(path).second) return;
  const Row* row = model_.Find(path);
  if (row == nullptr) return;
  for (const std::string& child : row->children) {
    const Row* sub = model_.Find(child);
    if (sub != nullptr && sub->tag == 0) InsertRow(*sub, *row);
  }
}

void MainWindow::OpenAll(const std::string& path) {
  const Row* row = model_.Find(path);
  if (row == nullptr || row->tag == 0 || row->children.empty()) return;
  Populate(path);
  TreeView_Expand(tree_, reinterpret_cast<HTREEITEM>(row->tag), TVE_EXPAND);
  for (const std::string& child : std::vector<std::string>(row->children)) OpenAll(child);
}

// Shows a row in the tree, every folder above it opened, and selects it.
void MainWindow::Reveal(const std::string& path) {
  for (size_t at = 0;;) {
    const size_t cut = path.find('\\', at);
    const std::string parent = at == 0 ? std::string() : path.substr(0, at - 1);
    Populate(parent);
    if (const Row* row = model_.Find(parent); row != nullptr && row->tag != 0) {
      TreeView_Expand(tree_, reinterpret_cast<HTREEITEM>(row->tag), TVE_EXPAND);
    }
    if (path.empty() || cut == std::string::npos) break;
    at = cut + 1;
  }
  if (const Row* row = model_.Find(path); row != nullptr && row->tag != 0) {
    TreeView_SelectItem(tree_, reinterpret_cast<HTREEITEM>(row->tag));
    TreeView_EnsureVisible(tree_, reinterpret_cast<HTREEITEM>(row->tag));
  }
}

void MainWindow::Refresh() {
  dirty_ = false;
  // While a run goes on, the list (thousands of lines on a first run) is
  // made again once a second, not on every tick: the run needs the time.
  const ULONGLONG now = ::GetTickCount64();
  if (!model_.Running() || now - attentionAt_ >= kAttentionMilliseconds) {
    attentionAt_ = now;
    attention_ = model_.AttentionList();
    ListView_SetItemCountEx(list_, static_cast<int>(attention_.size()), LVSICF_NOSCROLL);
    ::InvalidateRect(list_, nullptr, FALSE);
  }
  if (!folder_.empty()) ::SetWindowTextW(status_, Wide(model_.StatusText()).c_str());
  ShowDetails();
}

void MainWindow::ShowDetails() {
  const std::wstring text = model_.Find(selected_) == nullptr ? L"" : WideLines(model_.Details(selected_));
  const int length = ::GetWindowTextLengthW(details_);
  std::wstring shown(static_cast<size_t>(length) + 1, L'\0');
  ::GetWindowTextW(details_, shown.data(), length + 1);
  shown.resize(static_cast<size_t>(length));
  if (shown != text) ::SetWindowTextW(details_, text.c_str());
}

void MainWindow::AppendLog() {
  const std::vector<std::string>& log = model_.Log();
  if (logShown_ >= log.size()) return;
  std::string text;
  for (; logShown_ < log.size(); ++logShown_) text += log[logShown_] + "\n";
  const std::wstring lines = WideLines(text);
  const int end = ::GetWindowTextLengthW(log_);
  ::SendMessageW(log_, EM_SETSEL, end, end);
  ::SendMessageW(log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(lines.c_str()));
}

LRESULT MainWindow::Notify(NMHDR* header) {
  if (header->hwndFrom == tree_) {
    switch (header->code) {
      case TVN_ITEMEXPANDINGW: {
        const auto* view = reinterpret_cast<NMTREEVIEWW*>(header);
        if (view->action & TVE_EXPAND) {
          const auto it = paths_.find(view->itemNew.hItem);
          if (it != paths_.end()) Populate(std::string(it->second));
        }
        return FALSE;
      }
      case TVN_SELCHANGEDW: {
        const auto* view = reinterpret_cast<NMTREEVIEWW*>(header);
        const auto it = paths_.find(view->itemNew.hItem);
        selected_ = it == paths_.end() ? std::string() : it->second;
        ShowDetails();
        return 0;
      }
      case NM_CUSTOMDRAW:
        return DrawTreeItem(reinterpret_cast<NMTVCUSTOMDRAW*>(header));
      default:
        return 0;
    }
  }
  if (header->hwndFrom == list_) {
    switch (header->code) {
      case LVN_GETDISPINFOW:
        ListText(reinterpret_cast<NMLVDISPINFOW*>(header));
        return 0;
      case LVN_ITEMCHANGED: {
        const auto* view = reinterpret_cast<NMLISTVIEW*>(header);
        if ((view->uChanged & LVIF_STATE) != 0 && (view->uNewState & LVIS_SELECTED) != 0 &&
            view->iItem >= 0 && static_cast<size_t>(view->iItem) < attention_.size()) {
          Reveal(attention_[static_cast<size_t>(view->iItem)].path);
        }
        return 0;
      }
      default:
        return 0;
    }
  }
  return 0;
}

// Folders skipped or never entered in grey, failures in red, manifests to
// write in amber: the state at a glance, the label saying it in words.
LRESULT MainWindow::DrawTreeItem(NMTVCUSTOMDRAW* draw) {
  if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT || (draw->nmcd.uItemState & CDIS_SELECTED) != 0) {
    return CDRF_DODEFAULT;
  }
  const auto it = paths_.find(reinterpret_cast<HTREEITEM>(draw->nmcd.dwItemSpec));
  const Row* row = it == paths_.end() ? nullptr : model_.Find(it->second);
  if (row == nullptr) return CDRF_DODEFAULT;
  switch (row->state) {
    case State::Skipped:
    case State::Link: draw->clrText = ::GetSysColor(COLOR_GRAYTEXT); break;
    case State::Failed: draw->clrText = RGB(0xC0, 0x00, 0x00); break;
    case State::Missing:
    case State::Stale: draw->clrText = RGB(0xB0, 0x5A, 0x00); break;
    case State::Written: draw->clrText = RGB(0x00, 0x70, 0x20); break;
    default: break;
  }
  return CDRF_DODEFAULT;
}

void MainWindow::ListText(NMLVDISPINFOW* info) {
  if ((info->item.mask & LVIF_TEXT) == 0 || info->item.iItem < 0 ||
      static_cast<size_t>(info->item.iItem) >= attention_.size() || info->item.cchTextMax <= 0) {
    return;
  }
  const Attention& line = attention_[static_cast<size_t>(info->item.iItem)];
  const std::string& text = info->item.iSubItem == 0   ? line.shown
                            : info->item.iSubItem == 1 ? line.what
                                                       : line.why;
  std::wstring wide = Wide(text);
  // One line: a reason of several shows its first.
  wide = wide.substr(0, wide.find(L'\n'));
  const size_t room = static_cast<size_t>(info->item.cchTextMax) - 1;
  wide.resize(std::min(wide.size(), room));
  wcscpy(info->item.pszText, wide.c_str());
}

struct Search {
  const std::wstring* key;
  HWND found;
};

// Asks one window whether it is this program's and shows the folder sought.
BOOL CALLBACK AskWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  wchar_t name[64] = L"";
  ::GetClassNameW(hwnd, name, 64);
  if (wcscmp(name, ids::kWindowClass) != 0) return TRUE;
  COPYDATASTRUCT data{ids::kShowsFolder, static_cast<DWORD>(search->key->size() * sizeof(wchar_t)),
                      const_cast<wchar_t*>(search->key->c_str())};
  DWORD_PTR answer = FALSE;
  if (::SendMessageTimeoutW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                            2000, &answer) &&
      answer == TRUE) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A window of this program already showing the folder, if any.
HWND WindowShowing(const std::wstring& key) {
  Search search{&key, nullptr};
  ::EnumWindows(&AskWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

int RunWindow(HINSTANCE instance, const std::wstring& folder, int show) {
  // The folder given, else the last one while it is still there (one since
  // removed or renamed is no error of this start's).
  const std::wstring wanted = folder.empty() ? settings::LastFolder() : folder;
  std::wstring full;
  std::string problem;
  const bool found = !wanted.empty() && ResolveFolder(wanted, &full, &problem);
  // One window a folder: a second start on it brings the first to front.
  if (found) {
    if (HWND other = WindowShowing(FolderKey(full))) {
      ::SetForegroundWindow(other);
      return 0;
    }
  }
  MainWindow window(instance);
  if (found) window.Begin(full);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (!MainWindow::Register(instance)) return 1;
  if (!window.Create(show, folder.empty() ? std::string() : problem)) return 1;

  ACCEL keys[] = {
      {FCONTROL | FVIRTKEY, 'O', static_cast<WORD>(ids::kOpenFolder)},
      {FVIRTKEY, VK_F5, static_cast<WORD>(ids::kUpdate)},
      {FCONTROL | FVIRTKEY, 'S', static_cast<WORD>(ids::kUpdate)},
      {FCONTROL | FVIRTKEY, 'K', static_cast<WORD>(ids::kKeepCurrent)},
  };
  HACCEL accelerators = ::CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::TranslateAcceleratorW(window.Handle(), accelerators, &message)) continue;
    if (::IsDialogMessageW(window.Handle(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::DestroyAcceleratorTable(accelerators);
  if (window.Checking()) ::ExitProcess(0);
  return 0;
}

}  // namespace window
