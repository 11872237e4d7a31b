// The tree of a mod's folders, each labelled with its manifest's state: the
// tree-view control over the model's rows. The view's own handles of the
// rows (and which rows have their sub-folders in the tree) live here, not in
// the model.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "window/model/manifest_tree.h"

namespace window {

class FolderTree {
 public:
  explicit FolderTree(const ManifestTree& model) : model_(model) {}

  void Create(HWND parent);
  HWND Handle() const { return tree_; }
  // Every item gone, for a new ROOT.
  void Clear();
  // The model's changes, drawn.
  void Apply(const std::vector<ViewChange>& changes);
  // Opens a row and every folder beneath it.
  void OpenAll(const std::string& path);
  // Shows a row in the tree, every folder above it opened, and selects it.
  void Reveal(const std::string& path);
  // The row a context menu is for, and where the menu goes (screen
  // coordinates): the row under *at, selected, for a click; the selected
  // row, its menu below its label, for the menu key (byKey). False when
  // there is none.
  bool RowAt(bool byKey, POINT* at, std::string* path);
  // The row the user selected ("" for ROOT or none).
  const std::string& Selected() const { return selected_; }
  // WM_NOTIFY from the tree; *selectionChanged tells that Selected() did.
  LRESULT Notify(NMHDR* header, bool* selectionChanged);

 private:
  HTREEITEM ItemOf(const std::string& path) const;
  void Add(const Row& row);
  void Update(const Row& row);
  void Remove(const std::string& path);
  void InsertRow(const Row& row, const Row& parent);
  void Populate(const std::string& path);
  LRESULT DrawItem(NMTVCUSTOMDRAW* draw);

  const ManifestTree& model_;
  HWND tree_ = nullptr;
  std::unordered_map<std::string, HTREEITEM> items_;
  std::unordered_map<HTREEITEM, std::string> paths_;
  std::unordered_set<std::string> populated_;  // rows whose sub-folders are in the tree
  std::string selected_;
};

}  // namespace window
