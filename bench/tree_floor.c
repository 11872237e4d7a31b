/* The least a rerun of the tree tool must do, as a baseline for bench/tree:
 * list every folder of the tree once (each opened relative to its parent,
 * types from the directory entries) and read its manifest once (Mod.xml in a
 * folder whose name ends in "Data", zenter.xml elsewhere).
 *
 *   tree_floor ROOT
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static unsigned long folders, bytes;

static void read_manifest(int dir, const char *name) {
  size_t n = strlen(name);
  const char *manifest = n >= 4 && strcmp(name + n - 4, "Data") == 0 ? "Mod.xml" : "zenter.xml";
  int fd = openat(dir, manifest, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) bytes += (unsigned long)got;
  close(fd);
}

static void visit(int fd, const char *name) {
  DIR *dir = fdopendir(fd);
  if (dir == NULL) {
    close(fd);
    return;
  }
  ++folders;
  char **subs = NULL;
  size_t count = 0, room = 0;
  struct dirent *e;
  while ((e = readdir(dir)) != NULL) {
    if (e->d_type != DT_DIR || strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    if (count == room) {
      room = room ? 2 * room : 16;
      subs = realloc(subs, room * sizeof *subs);
      if (subs == NULL) abort();
    }
    subs[count++] = strdup(e->d_name);
  }
  read_manifest(dirfd(dir), name);
  for (size_t i = 0; i < count; ++i) {
    int child = openat(dirfd(dir), subs[i], O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child >= 0) visit(child, subs[i]);
    free(subs[i]);
  }
  free(subs);
  closedir(dir);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: tree_floor ROOT\n");
    return 2;
  }
  int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  const char *slash = strrchr(argv[1], '/');
  visit(fd, slash != NULL && slash[1] != '\0' ? slash + 1 : argv[1]);
  printf("%lu folders, %lu manifest bytes\n", folders, bytes);
  return 0;
}
