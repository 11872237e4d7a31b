#include "window/win32/folder_tree.h"

#include "tree/paths.h"
#include "window/win32/child_window.h"
#include "window/win32/resource.h"
#include "window/win32/wide_text.h"

namespace window {
namespace {

void SetHasChildren(HWND tree, HTREEITEM item, bool has) {
  TVITEMW change{TVIF_CHILDREN};
  change.hItem = item;
  change.cChildren = has ? 1 : 0;
  TreeView_SetItem(tree, &change);
}

}  // namespace

void FolderTree::Create(HWND parent) {
  tree_ = Child(parent, WC_TREEVIEWW, L"",
                WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                IDC_TREE, WS_EX_CLIENTEDGE);
}

void FolderTree::Clear() {
  TreeView_DeleteAllItems(tree_);
  items_.clear();
  paths_.clear();
  populated_.clear();
  selected_.clear();
}

HTREEITEM FolderTree::ItemOf(const std::string& path) const {
  const auto it = items_.find(path);
  return it == items_.end() ? nullptr : it->second;
}

void FolderTree::Apply(const std::vector<ViewChange>& changes) {
  for (const ViewChange& change : changes) {
    const Row* row = model_.Find(change.path);
    switch (change.kind) {
      case ViewChange::Kind::Added:
        if (row != nullptr && ItemOf(row->path) == nullptr) Add(*row);
        break;
      case ViewChange::Kind::Updated:
        if (row != nullptr && ItemOf(row->path) != nullptr) Update(*row);
        break;
      case ViewChange::Kind::Removed:
        Remove(change.path);
        break;
    }
  }
}

void FolderTree::Add(const Row& row) {
  if (row.path.empty()) {
    TVINSERTSTRUCTW insert{TVI_ROOT, TVI_LAST};
    const std::wstring label = Wide(model_.Label(row));
    insert.item.mask = TVIF_TEXT | TVIF_CHILDREN;
    insert.item.pszText = const_cast<wchar_t*>(label.c_str());
    insert.item.cChildren = 1;
    const HTREEITEM item = TreeView_InsertItem(tree_, &insert);
    items_[""] = item;
    paths_[item] = "";
    populated_.insert("");
    return;
  }
  const std::string parentPath(tree::below::Parent(row.path));
  const Row* parent = model_.Find(parentPath);
  if (parent == nullptr || ItemOf(parentPath) == nullptr) return;
  if (populated_.count(parentPath) != 0) {
    InsertRow(row, *parent);
  } else {
    SetHasChildren(tree_, ItemOf(parentPath), true);
  }
}

void FolderTree::Update(const Row& row) {
  const std::wstring label = Wide(model_.Label(row));
  TVITEMW item{TVIF_TEXT | TVIF_CHILDREN};
  item.hItem = ItemOf(row.path);
  item.pszText = const_cast<wchar_t*>(label.c_str());
  item.cChildren = row.children.empty() ? 0 : 1;
  TreeView_SetItem(tree_, &item);
}

// The model takes a folder's rows away beneath it first, so each item goes
// with its own change.
void FolderTree::Remove(const std::string& path) {
  populated_.erase(path);
  const HTREEITEM item = ItemOf(path);
  if (item == nullptr) return;
  items_.erase(path);
  paths_.erase(item);
  TreeView_DeleteItem(tree_, item);
}

// Inserts a row's item among its parent's, after the sibling before it that
// the tree shows.
void FolderTree::InsertRow(const Row& row, const Row& parent) {
  HTREEITEM after = TVI_FIRST;
  for (const std::string& sibling : parent.children) {
    if (sibling == row.path) break;
    if (const HTREEITEM before = ItemOf(sibling)) after = before;
  }
  const HTREEITEM parentItem = ItemOf(parent.path);
  const std::wstring label = Wide(model_.Label(row));
  TVINSERTSTRUCTW insert{parentItem, after};
  insert.item.mask = TVIF_TEXT | TVIF_CHILDREN;
  insert.item.pszText = const_cast<wchar_t*>(label.c_str());
  insert.item.cChildren = row.children.empty() ? 0 : 1;
  const HTREEITEM item = TreeView_InsertItem(tree_, &insert);
  items_[row.path] = item;
  paths_[item] = row.path;
  SetHasChildren(tree_, parentItem, true);
  if (parent.path.empty() && parent.children.front() == row.path) {
    TreeView_Expand(tree_, parentItem, TVE_EXPAND);
  }
}

// A folder's sub-folders go into the tree when it is first opened, so a
// tree of thousands of folders costs only what is shown.
void FolderTree::Populate(const std::string& path) {
  if (!populated_.insert(path).second) return;
  const Row* row = model_.Find(path);
  if (row == nullptr) return;
  for (const std::string& child : row->children) {
    const Row* sub = model_.Find(child);
    if (sub != nullptr && ItemOf(child) == nullptr) InsertRow(*sub, *row);
  }
}

void FolderTree::OpenAll(const std::string& path) {
  const Row* row = model_.Find(path);
  if (row == nullptr || ItemOf(path) == nullptr || row->children.empty()) return;
  Populate(path);
  TreeView_Expand(tree_, ItemOf(path), TVE_EXPAND);
  for (const std::string& child : std::vector<std::string>(row->children)) OpenAll(child);
}

void FolderTree::Reveal(const std::string& path) {
  // Each folder above it (ROOT alone for ROOT), from ROOT down, opened in
  // turn.
  const std::vector<std::string_view> names = tree::below::Names(path);
  std::string parent;
  for (size_t i = 0; i == 0 || i < names.size(); ++i) {
    Populate(parent);
    if (const HTREEITEM item = ItemOf(parent); item != nullptr && model_.Find(parent) != nullptr) {
      TreeView_Expand(tree_, item, TVE_EXPAND);
    }
    if (i < names.size()) parent = tree::below::Join(parent, names[i]);
  }
  if (const HTREEITEM item = ItemOf(path); item != nullptr && model_.Find(path) != nullptr) {
    TreeView_SelectItem(tree_, item);
    TreeView_EnsureVisible(tree_, item);
  }
}

bool FolderTree::RowAt(bool byKey, POINT* at, std::string* path) {
  HTREEITEM item = nullptr;
  if (byKey) {
    item = TreeView_GetSelection(tree_);
    RECT label;
    if (item == nullptr || !TreeView_GetItemRect(tree_, item, &label, TRUE)) return false;
    *at = {label.left, label.bottom};
    ::ClientToScreen(tree_, at);
  } else {
    TVHITTESTINFO hit{*at};
    ::ScreenToClient(tree_, &hit.pt);
    item = TreeView_HitTest(tree_, &hit);
    if (item == nullptr || (hit.flags & TVHT_ONITEM) == 0) return false;
    TreeView_SelectItem(tree_, item);
  }
  const auto it = paths_.find(item);
  if (it == paths_.end()) return false;
  *path = it->second;
  return true;
}

LRESULT FolderTree::Notify(NMHDR* header, bool* selectionChanged) {
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
      *selectionChanged = true;
      return 0;
    }
    case NM_CUSTOMDRAW:
      return DrawItem(reinterpret_cast<NMTVCUSTOMDRAW*>(header));
    default:
      return 0;
  }
}

// Folders skipped or never entered in grey, failures in red, manifests to
// write in amber: the state at a glance, the label saying it in words.
LRESULT FolderTree::DrawItem(NMTVCUSTOMDRAW* draw) {
  if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  // The selected row keeps its colour on the pale highlight of a tree
  // without the focus; on the focused highlight the system's text reads.
  const bool selected = (draw->nmcd.uItemState & CDIS_SELECTED) != 0;
  if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT || (selected && ::GetFocus() == tree_)) {
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

}  // namespace window
