#include "window/win32/main_window.h"

#include <commctrl.h>

#include <vector>

#include "rules/manifest_rule.h"

#include "window/win32/child_window.h"
#include "window/win32/dialogs.h"
#include "window/win32/placement.h"
#include "window/win32/resource.h"
#include "window/win32/row_menu.h"
#include "window/win32/settings.h"
#include "window/win32/single_instance.h"
#include "window/win32/wide_text.h"

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
// Up to this many folders, the whole tree is shown opened once a check ends.
constexpr unsigned long kOpenAllFolders = 300;

}  // namespace

MainWindow::MainWindow(HINSTANCE instance)
    : instance_(instance),
      title_(Text(IDS_TITLE)),
      model_(&Phrase, &ErrorPhrase),
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

bool MainWindow::Register(HINSTANCE instance) {
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = &Procedure;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAIN), IMAGE_ICON, 0, 0,
                                             LR_DEFAULTSIZE));
  wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAIN), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = ids::kWindowClass;
  return ::RegisterClassExW(&wc) != 0;
}

bool MainWindow::Create(int show, const std::string& problem) {
  hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES, ids::kWindowClass, title_.c_str(),
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                            LoadMenuBar(instance_), instance_, this);
  if (hwnd_ == nullptr) return false;
  Place(show);
  // Where no activation gave it one yet, a control has the focus from the
  // start.
  if (HWND focus = ::GetFocus(); focus == nullptr || focus == hwnd_) RestoreFocus();
  ::SetTimer(hwnd_, kRefreshTimer, kRefreshMilliseconds, nullptr);
  // From here on the run posts what it has; what it had is taken now.
  poster_.store(hwnd_);
  if (!folder_.empty()) {
    ::SetWindowTextW(hwnd_, Format(IDS_WINDOW_TITLE, {folder_, title_}).c_str());
    ApplyEvents();
    if (ended_.exchange(false)) Ended(job_, endedStatus_.load());
  } else {
    model_.Reset("");
    ::SetWindowTextW(status_, Text(IDS_OPEN_HINT).c_str());
    if (!problem.empty()) Fail(problem);
  }
  UpdateCommands();
  return true;
}

// Shown as the user left it, but never minimised, at the same size to the
// eye on the monitor it lands on; else at a size of its own.
void MainWindow::Place(int show) {
  WINDOWPLACEMENT place{};
  UINT savedDpi = 0;
  if (settings::WindowPlace(&place, &savedDpi)) {
    if (place.showCmd == SW_SHOWMINIMIZED || place.showCmd == SW_MINIMIZE) place.showCmd = SW_SHOWNORMAL;
    if (show != SW_SHOWDEFAULT && show != SW_SHOWNORMAL) place.showCmd = show;
    place.rcNormalPosition = Landed(place.rcNormalPosition, savedDpi);
    // The rectangle is already in the units of the monitor it lands on: a
    // move there from another monitor's DPI takes the new fonts, not the
    // rectangle Windows suggests.
    placing_ = true;
    ::SetWindowPlacement(hwnd_, &place);
    placing_ = false;
    if (const UINT dpi = DpiOf(hwnd_); dpi != dpi_) {
      dpi_ = dpi;
      SetFonts();
      Layout();
    }
    return;
  }
  const int scale = static_cast<int>(DpiOf(hwnd_));
  ::SetWindowPos(hwnd_, nullptr, 0, 0, ::MulDiv(900, scale, 96), ::MulDiv(620, scale, 96),
                 SWP_NOMOVE | SWP_NOZORDER);
  ::ShowWindow(hwnd_, show);
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
    case WM_CREATE: dpi_ = DpiOf(hwnd_); CreateControls(); return 0;
    case WM_SIZE: ::SendMessageW(status_, WM_SIZE, 0, 0); Layout(); return 0;
    case WM_DPICHANGED: return MsgDpiChanged(wParam, lParam);
    case WM_GETMINMAXINFO: return MsgMinMaxInfo(lParam);
    case WM_COMMAND: Command(LOWORD(wParam)); return 0;
    case WM_NOTIFY: return MsgNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_DROPFILES: Open(DroppedFolder(reinterpret_cast<HDROP>(wParam))); return 0;
    case WM_COPYDATA: return AnswerShowsFolder(hwnd_, folderKey_, lParam);
    case kEventsMessage:
      // The queue stays unempty, and so quiet, until the timer takes it.
      ::SetTimer(hwnd_, kTakeTimer, kTakeMilliseconds, nullptr);
      return 0;
    case kEndedMessage: return MsgEnded(wParam, lParam);
    case WM_TIMER: return MsgTimer(wParam);
    case WM_ACTIVATE: return MsgActivate(wParam);
    case WM_CONTEXTMENU: return MsgContextMenu(reinterpret_cast<HWND>(wParam), lParam);
    case WM_CLOSE: Close(); return 0;
    case WM_DESTROY: ::KillTimer(hwnd_, kRefreshTimer); ::PostQuitMessage(0); return 0;
    default: return ::DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

LRESULT MainWindow::MsgDpiChanged(WPARAM wParam, LPARAM lParam) {
  dpi_ = HIWORD(wParam);
  SetFonts();
  if (placing_) {
    Layout();
    return 0;
  }
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  return 0;
}

LRESULT MainWindow::MsgMinMaxInfo(LPARAM lParam) {
  auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
  info->ptMinTrackSize = {::MulDiv(480, static_cast<int>(dpi_), 96),
                          ::MulDiv(360, static_cast<int>(dpi_), 96)};
  return 0;
}

LRESULT MainWindow::MsgNotify(NMHDR* header) {
  if (header->hwndFrom == tree_.Handle()) {
    bool selectionChanged = false;
    const LRESULT result = tree_.Notify(header, &selectionChanged);
    if (selectionChanged) ShowDetails();
    return result;
  }
  if (header->hwndFrom == attention_.Handle()) {
    const Attention* picked = nullptr;
    const LRESULT result = attention_.Notify(header, &picked);
    if (picked != nullptr) tree_.Reveal(picked->path);
    return result;
  }
  return 0;
}

LRESULT MainWindow::MsgEnded(WPARAM wParam, LPARAM lParam) {
  if (ended_.exchange(false)) Ended(static_cast<RunThread::Job>(wParam), static_cast<int>(lParam));
  return 0;
}

LRESULT MainWindow::MsgTimer(WPARAM wParam) {
  if (wParam == kTakeTimer) {
    ::KillTimer(hwnd_, kTakeTimer);
    ApplyEvents();
  } else if (wParam == kRefreshTimer && dirty_) {
    Refresh();
  }
  return 0;
}

// The focus kept while another window (a box, the folder picker) is in
// front, and given back when this one is again, as a dialog's is: left to
// itself, the frame would take it and the arrows do nothing.
LRESULT MainWindow::MsgActivate(WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    if (HWND focus = ::GetFocus(); focus != nullptr && ::IsChild(hwnd_, focus)) focus_ = focus;
  } else if (HIWORD(wParam) == 0) {  // not minimised
    RestoreFocus();
  }
  return 0;
}

// A row's menu, for a row of the tree or of the list: where it was
// clicked, or at the selected row for the menu key (lParam -1).
LRESULT MainWindow::MsgContextMenu(HWND from, LPARAM lParam) {
  const bool byKey = lParam == -1;
  POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  std::string path;
  if (from == tree_.Handle()) {
    if (!tree_.RowAt(byKey, &at, &path)) return 0;
  } else if (from == attention_.Handle()) {
    const Attention* line = attention_.LineAt(byKey, &at);
    if (line == nullptr) return 0;
    path = line->path;
  } else {
    return ::DefWindowProcW(hwnd_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(from), lParam);
  }
  const Row* row = model_.Find(path);
  if (row == nullptr || folder_.empty()) return 0;
  RowPaths paths{folder_, L""};
  if (!path.empty()) {
    if (paths.folder.back() != L'\\') paths.folder += L'\\';
    paths.folder += Wide(path);
  }
  // Named as the run named it (the name as the file system holds it
  // decides), else by the folder's path.
  const size_t cut = row->shownManifest.find_last_of("\\/");
  const std::wstring manifest =
      row->shownManifest.empty() ? Wide(rules::ManifestNameFor(Utf8(paths.folder)))
                                 : Wide(row->shownManifest.substr(cut == std::string::npos ? 0 : cut + 1));
  paths.manifest = paths.folder + (paths.folder.back() == L'\\' ? L"" : L"\\") + manifest;
  ShowRowMenu(hwnd_, at, paths);
  return 0;
}

// The control that had the focus, while it can have it; else the tree (the
// Open button before a folder is open).
void MainWindow::RestoreFocus() {
  HWND to = focus_;
  if (to == nullptr || !::IsWindow(to) || !::IsWindowEnabled(to) || !::IsWindowVisible(to)) {
    to = folder_.empty() ? openButton_ : tree_.Handle();
  }
  ::SetFocus(to);
}

// Tab and Shift+Tab (with Ctrl too) go round every control that takes the
// focus, the panes included, and wrap; a multi-line edit would keep them.
// Escape stops the run in hand and never closes the window (a multi-line
// edit posts WM_CLOSE to its parent on Escape).
bool MainWindow::Key(const MSG& message) {
  if (message.message != WM_KEYDOWN || (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) {
    return false;
  }
  if (message.wParam == VK_ESCAPE) {
    Stop();
    return true;
  }
  if (message.wParam != VK_TAB || ::GetKeyState(VK_MENU) < 0) return false;
  HWND from = ::GetFocus();
  if (from == hwnd_ || !::IsChild(hwnd_, from)) from = nullptr;
  if (HWND next = ::GetNextDlgTabItem(hwnd_, from, ::GetKeyState(VK_SHIFT) < 0)) ::SetFocus(next);
  return true;
}

void MainWindow::CreateControls() {
  // Created in tab order.
  const auto button = [this](unsigned text, DWORD style, unsigned id) {
    return Child(hwnd_, WC_BUTTONW, Text(text).c_str(), WS_TABSTOP | style, id);
  };
  openButton_ = button(IDS_OPEN_BUTTON, BS_PUSHBUTTON, IDC_OPEN_BUTTON);
  updateButton_ = button(IDS_UPDATE_BUTTON, BS_PUSHBUTTON, IDC_UPDATE_BUTTON);
  keepBox_ = button(IDS_KEEP_CURRENT_BOX, BS_AUTOCHECKBOX | BS_PUSHLIKE, IDC_KEEP_CURRENT_BOX);
  tree_.Create(hwnd_);
  attention_.Create(hwnd_, dpi_);
  panes_.Create(hwnd_);
  status_ = Child(hwnd_, STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, IDC_STATUS_BAR);
  SetFonts();
}

// Made again for the window's DPI; the controls show them at once.
void MainWindow::SetFonts() {
  fonts_.Make(dpi_);
  for (HWND control : {openButton_, updateButton_, keepBox_, tree_.Handle(), attention_.Handle(), status_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Text()), TRUE);
  }
  panes_.SetFont(fonts_.Fixed());
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
  ::MoveWindow(tree_.Handle(), gap, top, treeWidth, mainBottom - top, TRUE);
  ::MoveWindow(attention_.Handle(), rightX, top, rightWidth, listHeight, TRUE);
  attention_.Fit(dpi_);
  ::MoveWindow(panes_.Details(), rightX, top + listHeight + s(6), rightWidth,
               mainBottom - top - listHeight - s(6), TRUE);
  ::MoveWindow(panes_.Log(), gap, mainBottom + s(6), width - 2 * gap, height - mainBottom - s(6) - gap, TRUE);
  panes_.FitBars();
}

void MainWindow::Command(unsigned id) {
  switch (id) {
    case IDM_OPEN_FOLDER:
    case IDC_OPEN_BUTTON:
      if (const std::wstring folder = PickFolder(hwnd_, folder_); !folder.empty()) Open(folder);
      break;
    case IDM_UPDATE: Start(RunThread::Job::Update); break;
    // The button is Stop while a check or an update runs.
    case IDC_UPDATE_BUTTON:
      if (runs_.Busy()) {
        Stop();
      } else {
        Start(RunThread::Job::Update);
      }
      break;
    case IDM_CHECK_AGAIN: Start(RunThread::Job::Check); break;
    case IDM_STOP: Stop(); break;
    case IDM_KEEP_CURRENT:
    case IDC_KEEP_CURRENT_BOX: ToggleWatch(); break;
    case IDM_EXPLORER_ADD: ExplorerEntry(true); break;
    case IDM_EXPLORER_REMOVE: ExplorerEntry(false); break;
    case IDM_ABOUT: ShowAbout(hwnd_); break;
    case IDM_LANGUAGE_AUTO: Relanguage(L""); break;
    case IDM_LANGUAGE_ENGLISH: Relanguage(L"en"); break;
    case IDM_LANGUAGE_CHINESE: Relanguage(L"zh-CN"); break;
    case IDM_EXIT: Close(); break;
    default: break;
  }
}

void MainWindow::ToggleWatch() {
  if (watching_) {
    Stop();
  } else {
    Start(RunThread::Job::Watch);
  }
  UpdateCommands();
}

// The run in hand told to stop; the status bar says so until it has.
void MainWindow::Stop() {
  if (!runs_.Busy()) return;
  runs_.Stop();
  stopping_ = true;
  ::SetWindowTextW(status_, Text(closing_ ? IDS_CLOSING : IDS_STOPPING).c_str());
  UpdateCommands();
}

void MainWindow::Open(const std::wstring& given) {
  std::wstring full;
  std::string problem;
  if (!ResolveFolder(given, &full, &problem)) {
    Fail(problem);
    return;
  }
  if (runs_.Busy()) {
    // A watch or a check ends first; an update finishes.
    pending_ = full;
    if (job_ != RunThread::Job::Update) Stop();
    return;
  }
  ::SetWindowTextW(hwnd_, Format(IDS_WINDOW_TITLE, {full, title_}).c_str());
  tree_.Clear();
  panes_.Clear();
  Begin(full);
  tree_.Apply(model_.TakeChanges());
}

void MainWindow::Begin(const std::wstring& full) {
  folder_ = full;
  folderKey_ = FolderKey(full);
  model_.Reset(Utf8(full));
  Start(RunThread::Job::Check);
}

void MainWindow::Start(RunThread::Job job) {
  if (folder_.empty() || runs_.Busy() || closing_) return;
  // A refused ROOT can only be looked at again.
  if (job != RunThread::Job::Check && !model_.Refused().empty()) return;
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
  stopping_ = false;
  RootGone(job);
  Remember();
  if (job == RunThread::Job::Check && model_.Count().folders + model_.Count().skipped <= kOpenAllFolders) {
    tree_.OpenAll("");
  }
  Refresh();
  // What a check found first is shown at once, with its include lines.
  if (job == RunThread::Job::Check && !attention_.Lines().empty() && tree_.Selected().empty()) {
    tree_.Reveal(attention_.Lines().front().path);
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

// A refused ROOT is shown where the tree was, with why; a ROOT gone since a
// run or a watch began is refused too, so no row claims a state it lost.
void MainWindow::RootGone(RunThread::Job job) {
  if (model_.Refused().empty() && !closing_ && job == RunThread::Job::Watch &&
      ::GetFileAttributesW(folder_.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD why = ::GetLastError();
    if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) {
      model_.Refuse(IDS_REMOVED_WHILE_KEPT);
    }
  }
  if (model_.Refused().empty()) return;
  tree_.Apply(model_.TakeChanges());
  tree_.Reveal("");
}

// The folder the next start opens: this one once a run could work in it;
// never one the engine refuses, which would only be refused again.
void MainWindow::Remember() {
  if (model_.Refused().empty()) {
    settings::SetLastFolder(folder_);
  } else if (FolderKey(settings::LastFolder()) == folderKey_) {
    settings::SetLastFolder(L"");
  }
}

void MainWindow::Close() {
  WINDOWPLACEMENT place{sizeof place};
  if (::GetWindowPlacement(hwnd_, &place)) settings::SetWindowPlace(place, dpi_);
  // The run in hand stops as Ctrl-C stops the tree tool (its batch in hand
  // abandoned, no temporary file left); the window goes once it has.
  if (runs_.Busy()) {
    closing_ = true;
    Stop();
    return;
  }
  ::DestroyWindow(hwnd_);
}

void MainWindow::ExplorerEntry(bool add) {
  std::wstring program(kLongestPath, L'\0');
  program.resize(::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
  const bool done = add ? settings::AddExplorerEntry(program, Text(IDS_EXPLORER_ENTRY))
                        : settings::RemoveExplorerEntry();
  if (!done) Warn(hwnd_, Format(add ? IDS_CANNOT_ADD_ENTRY : IDS_CANNOT_REMOVE_ENTRY, {LastErrorText()}));
  UpdateCommands();
}

// Every text said again in the language chosen (empty: the user's UI
// language), which the next start speaks too. The log keeps its lines as
// they were said.
void MainWindow::Relanguage(const std::wstring& chosen) {
  settings::SetLanguage(chosen);
  Speak(ChooseLanguage(chosen, ::GetUserDefaultUILanguage()));
  title_ = Text(IDS_TITLE);
  // Explorer's entry speaks as the window does. Only its caption changes,
  // and one the registry will not change keeps the words it had.
  settings::RecaptionExplorerEntry(Text(IDS_EXPLORER_ENTRY));
  HMENU old = ::GetMenu(hwnd_);
  ::SetMenu(hwnd_, LoadMenuBar(instance_));
  ::DestroyMenu(old);
  ::SetWindowTextW(hwnd_, folder_.empty() ? title_.c_str() : Format(IDS_WINDOW_TITLE, {folder_, title_}).c_str());
  ::SetWindowTextW(openButton_, Text(IDS_OPEN_BUTTON).c_str());
  ::SetWindowTextW(keepBox_, Text(IDS_KEEP_CURRENT_BOX).c_str());
  attention_.Reword();
  model_.Reworded();
  tree_.Apply(model_.TakeChanges());
  if (folder_.empty()) ::SetWindowTextW(status_, Text(IDS_OPEN_HINT).c_str());
  Refresh();
  UpdateCommands();
}

void MainWindow::Fail(const std::string& text) { Warn(hwnd_, Wide(text)); }

// What can be done now: nothing but Check again on a refused ROOT; Stop
// while a run is in hand, on the Update button too unless a watch runs.
void MainWindow::UpdateCommands() {
  const bool open = !folder_.empty();
  const bool usable = open && model_.Refused().empty();
  const bool busy = runs_.Busy();
  const bool idle = open && !busy && !closing_;
  const bool canUpdate = usable && idle;
  const bool canStop = busy && !stopping_;
  const bool canWatch = usable && !closing_ && (!busy || (watching_ && !stopping_));
  const bool canOpen = !closing_ && (!busy || watching_);
  const bool stopButton = busy && !watching_;
  ::SetWindowTextW(updateButton_, Text(stopButton ? IDS_STOP_BUTTON : IDS_UPDATE_BUTTON).c_str());
  ::EnableWindow(openButton_, canOpen);
  ::EnableWindow(updateButton_, stopButton ? canStop : canUpdate);
  ::EnableWindow(keepBox_, canWatch);
  ::SendMessageW(keepBox_, BM_SETCHECK, watching_ ? BST_CHECKED : BST_UNCHECKED, 0);
  HMENU menu = ::GetMenu(hwnd_);
  ::EnableMenuItem(menu, IDM_OPEN_FOLDER, canOpen ? MF_ENABLED : MF_GRAYED);
  ::EnableMenuItem(menu, IDM_UPDATE, canUpdate ? MF_ENABLED : MF_GRAYED);
  ::EnableMenuItem(menu, IDM_CHECK_AGAIN, idle ? MF_ENABLED : MF_GRAYED);
  ::EnableMenuItem(menu, IDM_STOP, canStop ? MF_ENABLED : MF_GRAYED);
  ::EnableMenuItem(menu, IDM_KEEP_CURRENT, canWatch ? MF_ENABLED : MF_GRAYED);
  ::CheckMenuItem(menu, IDM_KEEP_CURRENT, watching_ ? MF_CHECKED : MF_UNCHECKED);
  const std::wstring chosen = settings::Language();
  ::CheckMenuRadioItem(menu, IDM_LANGUAGE_AUTO, IDM_LANGUAGE_CHINESE,
                       chosen == L"en"      ? IDM_LANGUAGE_ENGLISH
                       : chosen == L"zh-CN" ? IDM_LANGUAGE_CHINESE
                                            : IDM_LANGUAGE_AUTO,
                       MF_BYCOMMAND);
  const bool entry = settings::ExplorerEntryPresent();
  ::EnableMenuItem(menu, IDM_EXPLORER_ADD, entry ? MF_GRAYED : MF_ENABLED);
  ::EnableMenuItem(menu, IDM_EXPLORER_REMOVE, entry ? MF_ENABLED : MF_GRAYED);
  // A control greyed with the focus in it would leave the focus nowhere.
  if (HWND focus = ::GetFocus(); focus != nullptr && ::IsChild(hwnd_, focus) && !::IsWindowEnabled(focus)) {
    ::SetFocus(tree_.Handle());
  }
}

// What the run queued, into the model, and the tree brought in line at once;
// the list, the details and the counts follow on the timer.
void MainWindow::ApplyEvents() {
  ::KillTimer(hwnd_, kTakeTimer);
  for (RunEvent& event : queue_.Take()) model_.Apply(std::move(event));
  tree_.Apply(model_.TakeChanges());
  panes_.AppendLog(model_.Log());
  dirty_ = true;
  if (!model_.Running()) Refresh();
}

void MainWindow::Refresh() {
  dirty_ = false;
  attention_.Refresh(model_);
  // A stop asked is said until the run has ended.
  if (stopping_) {
    ::SetWindowTextW(status_, Text(closing_ ? IDS_CLOSING : IDS_STOPPING).c_str());
  } else if (!folder_.empty()) {
    ::SetWindowTextW(status_, Wide(model_.StatusText()).c_str());
  }
  ShowDetails();
}

void MainWindow::ShowDetails() {
  const std::string& selected = tree_.Selected();
  panes_.ShowDetails(model_.Find(selected) == nullptr ? L"" : WideLines(model_.Details(selected)));
}

int RunWindow(HINSTANCE instance, const std::wstring& folder, int show) {
  Speak(ChooseLanguage(settings::Language(), ::GetUserDefaultUILanguage()));
  // The folder given, else the last one while it is still there (one since
  // removed or renamed is no error of this start's).
  const std::wstring wanted = folder.empty() ? settings::LastFolder() : folder;
  std::wstring full;
  std::string problem;
  const bool found = !wanted.empty() && ResolveFolder(wanted, &full, &problem);
  // One window a folder: a second start on it brings the first to front.
  if (found && BroughtToFront(full)) return 0;
  MainWindow window(instance);
  if (found) window.Begin(full);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (!MainWindow::Register(instance)) return 1;
  if (!window.Create(show, folder.empty() ? std::string() : problem)) return 1;

  HACCEL accelerators = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAIN));
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.Key(message)) continue;
    if (::TranslateAcceleratorW(window.Handle(), accelerators, &message)) continue;
    if (::IsDialogMessageW(window.Handle(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace window
