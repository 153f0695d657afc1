/* The floor of the media benchmarks: the least any tag reader or writer must
 * do per file.
 *   floor scan DIR      open, read the first 4096 and the last 128 bytes, close
 *   floor change DIR    open, one pwrite at offset 40, close
 */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int change = strcmp(argv[1], "change") == 0;
  DIR* d = opendir(argv[2]);
  if (!d) return 1;
  char path[4096], head[4096], tail[128];
  long files = 0, bytes = 0;
  struct dirent* e;
  while ((e = readdir(d)) != NULL) {
    size_t n = strlen(e->d_name);
    if (n < 4 || strcmp(e->d_name + n - 4, ".mp3") != 0) continue;
    snprintf(path, sizeof path, "%s/%s", argv[2], e->d_name);
    int fd = open(path, change ? O_RDWR : O_RDONLY);
    if (fd < 0) return 1;
    if (change) {
      if (pwrite(fd, "Floor", 5, 40) != 5) return 1;
    } else {
      bytes += pread(fd, head, sizeof head, 0);
      off_t end = lseek(fd, 0, SEEK_END);
      bytes += pread(fd, tail, sizeof tail, end - 128);
    }
    close(fd);
    ++files;
  }
  closedir(d);
  printf("%ld files, %ld bytes\n", files, bytes);
  return 0;
}
