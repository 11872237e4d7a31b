// The window: a mod's folders in a tree, each with its manifest's state;
// beside it what needs the user's eye and the details of the folder
// selected; below, the log of a watch and the counts. Plain Win32 with the
// common controls, usable from the keyboard throughout.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "window/engine/run_thread.h"
#include "window/model/manifest_tree.h"
#include "window/win32/attention_list.h"
#include "window/win32/folder_tree.h"
#include "window/win32/fonts.h"
#include "window/win32/text_panes.h"

namespace window {

// The main window: its creation and layout, its commands, and the runs it
// starts on the engine's thread; each message to a handler of its own. The
// tree, the list, the text panes, the boxes and the single-instance question
// are rooms of their own.
class MainWindow {
 public:
  explicit MainWindow(HINSTANCE instance);

  static bool Register(HINSTANCE instance);
  // Starts the check of a folder (a full path): before the window is made,
  // so that under Wine, where making a window costs as much as walking a
  // small tree, the two go on at once.
  void Begin(const std::wstring& full);
  // problem: why the folder the program was started on cannot be opened.
  bool Create(int show, const std::string& problem);
  HWND Handle() const { return hwnd_; }
  // A key the window takes before its controls do (Tab, Shift+Tab, Escape):
  // whether it took it.
  bool Key(const MSG& message);

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // Each message to its handler.
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT MsgDpiChanged(WPARAM wParam, LPARAM lParam);
  LRESULT MsgMinMaxInfo(LPARAM lParam);
  LRESULT MsgNotify(NMHDR* header);
  LRESULT MsgEnded(WPARAM wParam, LPARAM lParam);
  LRESULT MsgTimer(WPARAM wParam);
  LRESULT MsgActivate(WPARAM wParam);
  LRESULT MsgContextMenu(HWND from, LPARAM lParam);
  void RestoreFocus();

  void Place(int show);
  void CreateControls();
  void SetFonts();
  void Layout();
  void Command(unsigned id);
  void ToggleWatch();
  void Stop();

  void Open(const std::wstring& folder);
  void Start(RunThread::Job job);
  void Ended(RunThread::Job job, int status);
  void RootGone(RunThread::Job job);
  void Remember();
  void Close();
  void ExplorerEntry(bool add);
  void Relanguage(const std::wstring& chosen);
  void UpdateCommands();

  void ApplyEvents();
  void Refresh();
  void ShowDetails();
  void Fail(const std::string& text);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  std::wstring title_;
  // What the run's thread may post to (null until the window is made), and
  // the end of a run that it could not yet post; taken once.
  std::atomic<HWND> poster_{nullptr};
  std::atomic<bool> ended_{false};
  std::atomic<int> endedStatus_{0};
  HWND openButton_ = nullptr, updateButton_ = nullptr, keepBox_ = nullptr;
  HWND status_ = nullptr;
  Fonts fonts_;
  UINT dpi_ = 96;

  ManifestTree model_;
  FolderTree tree_{model_};
  AttentionList attention_;
  TextPanes panes_;
  EventQueue queue_;
  RunThread runs_;
  RunThread::Job job_ = RunThread::Job::Check;
  bool watching_ = false;
  bool stopping_ = false;  // a stop asked, the run not yet ended
  bool closing_ = false;
  bool placing_ = false;   // the saved placement being restored
  HWND focus_ = nullptr;   // the control that had the focus when the window was left
  std::wstring folder_;     // full path of the folder shown
  std::wstring folderKey_;  // FolderKey(folder_)
  std::wstring pending_;    // a folder to open once the run in hand has ended
  bool dirty_ = false;
};


// Runs the window until it is closed. folder: the folder to open (the
// program's argument), or empty to reopen the last one. Returns the
// process's exit status.
int RunWindow(HINSTANCE instance, const std::wstring& folder, int show);

}  // namespace window
