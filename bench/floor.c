/* The floor the tools are measured against.
 *
 *   bench_floor extract ARCHIVE.tar DIR
 *       writes every regular file of an uncompressed tar into DIR with one
 *       open, one write and one close each, straight from the mapped archive:
 *       the least work that creates the same files.
 *   bench_floor read FILE BYTES
 *       reads the first BYTES bytes of FILE through a 64 KiB buffer.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static unsigned long octal(const char *p, int n) {
  unsigned long v = 0;
  for (int i = 0; i < n && p[i] >= '0' && p[i] <= '7'; ++i) v = v * 8 + (unsigned long)(p[i] - '0');
  return v;
}

static int extract(const char *archive, const char *dir) {
  int fd = open(archive, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return perror(archive), 1;
  const char *base = mmap(NULL, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (base == MAP_FAILED) return perror("mmap"), 1;
  char path[4096];
  size_t pos = 0, files = 0;
  while (pos + 512 <= (size_t)st.st_size && base[pos]) {
    const char *h = base + pos;
    unsigned long size = octal(h + 124, 12);
    char name[256];
    memcpy(name, h, 100);
    name[100] = 0;
    const char *n = name;
    while (n[0] == '.' && n[1] == '/') n += 2;
    if ((h[156] == '0' || h[156] == 0) && *n) {
      snprintf(path, sizeof path, "%s/%s", dir, n);
      int out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || write(out, h + 512, size) != (ssize_t)size || close(out) != 0)
        return perror(path), 1;
      ++files;
    }
    pos += 512 + (size + 511) / 512 * 512;
  }
  return files ? 0 : 1;
}

static int read_prefix(const char *file, long long bytes) {
  int fd = open(file, O_RDONLY);
  if (fd < 0) return perror(file), 1;
  static char buf[65536];
  while (bytes > 0) {
    ssize_t n = read(fd, buf, bytes < (long long)sizeof buf ? (size_t)bytes : sizeof buf);
    if (n <= 0) return 1;
    bytes -= n;
  }
  return close(fd);
}

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "extract") == 0) return extract(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "read") == 0) return read_prefix(argv[2], atoll(argv[3]));
  fputs("Syntax: bench_floor extract ARCHIVE.tar DIR | read FILE BYTES\n", stderr);
  return 2;
}
