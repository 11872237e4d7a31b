#include "window/win32/attention_list.h"

#include <algorithm>

#include "window/win32/child_window.h"
#include "window/win32/dialogs.h"
#include "window/win32/resource.h"
#include "window/win32/wide_text.h"

namespace window {
namespace {

constexpr ULONGLONG kAttentionMilliseconds = 1000;

}  // namespace

void AttentionList::Create(HWND parent, UINT dpi) {
  list_ = Child(parent, WC_LISTVIEWW, L"",
                WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                IDC_ATTENTION_LIST, WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP);
  const int widths[] = {260, 70, 260};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{LVCF_WIDTH};
    column.cx = ::MulDiv(widths[i], static_cast<int>(dpi), 96);
    ListView_InsertColumn(list_, i, &column);
  }
  Reword();
}

void AttentionList::Reword() {
  const unsigned titles[] = {IDS_COLUMN_NAME, IDS_COLUMN_STATE, IDS_COLUMN_WHY};
  for (int i = 0; i < 3; ++i) {
    const std::wstring title = Text(titles[i]);
    LVCOLUMNW column{LVCF_TEXT};
    column.pszText = const_cast<wchar_t*>(title.c_str());
    ListView_SetColumn(list_, i, &column);
  }
}

void AttentionList::Fit(UINT dpi) {
  RECT client;
  ::GetClientRect(list_, &client);
  const int name = std::min(::MulDiv(260, static_cast<int>(dpi), 96), static_cast<int>(client.right * 2 / 5));
  ListView_SetColumnWidth(list_, 0, name);
  ListView_SetColumnWidth(list_, 1, ::MulDiv(70, static_cast<int>(dpi), 96));
  ListView_SetColumnWidth(list_, 2, LVSCW_AUTOSIZE_USEHEADER);
}

void AttentionList::Refresh(const ManifestTree& model) {
  const ULONGLONG now = ::GetTickCount64();
  if (model.Running() && now - takenAt_ < kAttentionMilliseconds) return;
  takenAt_ = now;
  lines_ = model.AttentionList();
  ListView_SetItemCountEx(list_, static_cast<int>(lines_.size()), LVSICF_NOSCROLL);
  ::InvalidateRect(list_, nullptr, FALSE);
}

const Attention* AttentionList::LineAt(bool byKey, POINT* at) {
  int item = -1;
  if (byKey) {
    item = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    RECT cell;
    if (item < 0 || !ListView_GetItemRect(list_, item, &cell, LVIR_LABEL)) return nullptr;
    *at = {cell.left, cell.bottom};
    ::ClientToScreen(list_, at);
  } else {
    LVHITTESTINFO hit{*at};
    ::ScreenToClient(list_, &hit.pt);
    item = ListView_HitTest(list_, &hit);
    if (item < 0) return nullptr;
    ListView_SetItemState(list_, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  return static_cast<size_t>(item) < lines_.size() ? &lines_[static_cast<size_t>(item)] : nullptr;
}

LRESULT AttentionList::Notify(NMHDR* header, const Attention** picked) {
  switch (header->code) {
    case LVN_GETDISPINFOW:
      ListText(reinterpret_cast<NMLVDISPINFOW*>(header));
      return 0;
    case LVN_GETINFOTIPW:
      InfoTip(reinterpret_cast<NMLVGETINFOTIPW*>(header));
      return 0;
    case LVN_ITEMCHANGED: {
      const auto* view = reinterpret_cast<NMLISTVIEW*>(header);
      if ((view->uChanged & LVIF_STATE) != 0 && (view->uNewState & LVIS_SELECTED) != 0 &&
          view->iItem >= 0 && static_cast<size_t>(view->iItem) < lines_.size()) {
        *picked = &lines_[static_cast<size_t>(view->iItem)];
      }
      return 0;
    }
    default:
      return 0;
  }
}

void AttentionList::ListText(NMLVDISPINFOW* info) const {
  if ((info->item.mask & LVIF_TEXT) == 0 || info->item.iItem < 0 ||
      static_cast<size_t>(info->item.iItem) >= lines_.size() || info->item.cchTextMax <= 0) {
    return;
  }
  const Attention& line = lines_[static_cast<size_t>(info->item.iItem)];
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

// On hover, the whole line, however the columns cut it: every reason.
void AttentionList::InfoTip(NMLVGETINFOTIPW* tip) const {
  if (tip->iItem < 0 || static_cast<size_t>(tip->iItem) >= lines_.size() || tip->cchTextMax <= 0) return;
  const Attention& line = lines_[static_cast<size_t>(tip->iItem)];
  std::wstring text = Format(IDS_LINE_TIP, {Wide(line.shown), Wide(line.what), Wide(line.why)});
  text.resize(std::min(text.size(), static_cast<size_t>(tip->cchTextMax) - 1));
  wcscpy(tip->pszText, text.c_str());
}

}  // namespace window
