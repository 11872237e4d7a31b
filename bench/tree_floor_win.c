/* The least a rerun of the tree tool must do on Windows, as a baseline for
 * bench/windows: list every folder of the tree once (FindFirstFileExW, the
 * basic level, fetched in large batches; types and reparse points from the
 * listing) and read its manifest once (Mod.xml in a folder whose name ends
 * in "Data", zenter.xml elsewhere). Links are never entered.
 *
 *   tree_floor_win.exe ROOT        (a Windows path: Z:\...)
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static unsigned long folders, bytes;

static void read_manifest(wchar_t *path, size_t length, const wchar_t *name, size_t nameLength) {
  const int data = nameLength >= 4 && wcscmp(name + nameLength - 4, L"Data") == 0;
  wcscpy(path + length, data ? L"\\Mod.xml" : L"\\zenter.xml");
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  path[length] = 0;
  if (file == INVALID_HANDLE_VALUE) return;
  static char buffer[65536];
  DWORD got = 0;
  if (ReadFile(file, buffer, sizeof buffer, &got, NULL)) bytes += got;
  CloseHandle(file);
}

/* path holds the folder's \\?\ path, length units long, in room for 32,768. */
static void visit(wchar_t *path, size_t length) {
  const wchar_t *name = wcsrchr(path, L'\\');
  name = name != NULL ? name + 1 : path;
  const size_t nameLength = wcslen(name);
  wcscpy(path + length, L"\\*");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileExW(path, FindExInfoBasic, &found, FindExSearchNameMatch, NULL,
                                 FIND_FIRST_EX_LARGE_FETCH);
  path[length] = 0;
  if (find == INVALID_HANDLE_VALUE) return;
  ++folders;
  wchar_t **subs = NULL;
  size_t count = 0, room = 0;
  do {
    const DWORD a = found.dwFileAttributes;
    if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0 || (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    if (count == room) {
      room = room ? 2 * room : 16;
      subs = realloc(subs, room * sizeof *subs);
      if (subs == NULL) abort();
    }
    subs[count++] = _wcsdup(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  read_manifest(path, length, name, nameLength);
  for (size_t i = 0; i < count; ++i) {
    const size_t sub = wcslen(subs[i]);
    if (length + 1 + sub + 16 < 32768) {
      path[length] = L'\\';
      wcscpy(path + length + 1, subs[i]);
      visit(path, length + 1 + sub);
      path[length] = 0;
    }
    free(subs[i]);
  }
  free(subs);
}

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: tree_floor_win ROOT\n");
    return 2;
  }
  static wchar_t path[32768];
  wcscpy(path, L"\\\\?\\");
  size_t length = 4 + GetFullPathNameW(argv[1], 32768 - 8, path + 4, NULL);
  while (length > 4 && path[length - 1] == L'\\') path[--length] = 0;
  visit(path, length);
  printf("%lu folders, %lu manifest bytes\n", folders, bytes);
  return folders > 0 ? 0 : 1;
}
