// What needs the user's eye (manifests missing or stale, failures,
// warnings): the list beside the tree, a virtual list view over the model's
// attention lines as last taken.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "window/model/manifest_tree.h"

namespace window {

class AttentionList {
 public:
  // The list, its columns sized for dpi.
  void Create(HWND parent, UINT dpi);
  HWND Handle() const { return list_; }
  // The columns' titles, in the language now spoken.
  void Reword();
  // The columns fitted to the list's width at dpi: the last fills what the
  // others leave.
  void Fit(UINT dpi);
  // The lines taken again from the model: at once when the run has ended,
  // else at most once a second, for a first run's thousands of lines cost
  // the run its time.
  void Refresh(const ManifestTree& model);
  const std::vector<Attention>& Lines() const { return lines_; }
  // The line a context menu is for, and where the menu goes (screen
  // coordinates): the line under *at, selected, for a click; the selected
  // line, its menu below its first cell, for the menu key (byKey). Null
  // when there is none.
  const Attention* LineAt(bool byKey, POINT* at);
  // WM_NOTIFY from the list; *picked set to the line the user selected,
  // else left.
  LRESULT Notify(NMHDR* header, const Attention** picked);

 private:
  void ListText(NMLVDISPINFOW* info) const;
  void InfoTip(NMLVGETINFOTIPW* tip) const;

  HWND list_ = nullptr;
  std::vector<Attention> lines_;
  ULONGLONG takenAt_ = 0;  // when lines_ were taken
};

}  // namespace window
