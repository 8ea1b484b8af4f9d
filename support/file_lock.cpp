#include "support/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

int process_lock_held = 0;
int process_lock_handle = -1;

}  // namespace

int vorn_lock_file(const char *path) {
  if (path == nullptr) return -1;
  const int fd = open(path, O_RDWR | O_CREAT, 0600);
  if (fd < 0) return -1;
  if (lockf(fd, F_TLOCK, 0) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int vorn_unlock_file(int handle) {
  if (handle < 0) return 0;
  const int unlocked = lockf(handle, F_ULOCK, 0) == 0;
  close(handle);
  return unlocked ? 1 : 0;
}

int vorn_process_lock(const char *path) {
  process_lock_held = 1;
  process_lock_handle = vorn_lock_file(path);
  if (process_lock_handle >= 0) return 1;
  process_lock_held = 0;
  return 0;
}

int vorn_process_unlock() {
  if (!process_lock_held) return 0;
  const int result = vorn_unlock_file(process_lock_handle);
  process_lock_held = 0;
  process_lock_handle = -1;
  return result;
}
