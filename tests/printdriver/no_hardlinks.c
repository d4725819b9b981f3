/* A file system without hard links, as a program sees it when this library is
   preloaded: link() and linkat() fail with EPERM (as on FAT or some network
   file systems). */
#include <errno.h>

int link(const char* from, const char* to) {
  (void)from;
  (void)to;
  errno = EPERM;
  return -1;
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  (void)fromDir;
  (void)from;
  (void)toDir;
  (void)to;
  (void)flags;
  errno = EPERM;
  return -1;
}
