#include "window/win32/folder_drop.h"

#include <shellapi.h>

#include <filesystem>
#include <string>

namespace vendrake::window {
namespace {

// Where a box keeps the window procedure of its class, which handles all but
// the drop.
constexpr wchar_t kEditProcedureProperty[] = L"VendrakeEditProcedure";

// The message that copies a drop's data between processes; WM_COPYGLOBALDATA
// in the SDK, which MinGW's headers do not name.
constexpr UINT kCopyGlobalData = 0x0049;

// The first item of `drop`, as the shell names it; empty when there is none.
std::wstring FirstDroppedItem(HDROP drop) {
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  if (length == 0) return {};
  std::wstring item(length + 1, L'\0');
  const UINT copied = DragQueryFileW(drop, 0, item.data(), length + 1);
  item.resize(copied);
  return item;
}

// The folder `item` stands for as a drop: the item itself when it is a folder
// (or cannot be looked at), else the folder holding it.
std::wstring DroppedFolder(const std::wstring& item) {
  const DWORD attributes = GetFileAttributesW(item.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return item;
  }
  // "C:\\model" gives "C:\\", not the drive-relative "C:".
  return std::filesystem::path(item).parent_path().wstring();
}

LRESULT CALLBACK DropTakingBoxProcedure(HWND box, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto edit_procedure = reinterpret_cast<WNDPROC>(GetPropW(box, kEditProcedureProperty));
  if (message == WM_DROPFILES) {
    const auto drop = reinterpret_cast<HDROP>(wparam);
    const std::wstring item = FirstDroppedItem(drop);
    // The receiver frees the drop, whatever it makes of it.
    DragFinish(drop);
    if (!item.empty() && IsWindowEnabled(box)) SetWindowTextW(box, DroppedFolder(item).c_str());
    return 0;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(edit_procedure));
    RemovePropW(box, kEditProcedureProperty);
  }
  return CallWindowProcW(edit_procedure, box, message, wparam, lparam);
}

}  // namespace

void AcceptFolderDrops(HWND box) {
  const LONG_PTR edit_procedure = GetWindowLongPtrW(box, GWLP_WNDPROC);
  SetPropW(box, kEditProcedureProperty, reinterpret_cast<HANDLE>(edit_procedure));
  SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DropTakingBoxProcedure));
  // Explorer runs at medium integrity; an elevated program's windows refuse
  // its drop messages unless let through.
  for (const UINT message :
       {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), kCopyGlobalData}) {
    ChangeWindowMessageFilterEx(box, message, MSGFLT_ALLOW, nullptr);
  }
  DragAcceptFiles(box, TRUE);
}

}  // namespace vendrake::window
