// A passthrough file system, mounted with FUSE, that holds every request up
// for a set time before it reaches the folder beneath: a disk behind a slow
// link (a network share, a USB stick) with the real file system underneath,
// for timing how tools cope with latency. Requests are served on several
// threads, so that requests made at once wait at once, as on such a link.
//
//   vendrake-latency-fs UNDER MOUNT_POINT DELAY_MICROSECONDS [FUSE OPTIONS]
//
// Only what copying tools and vendrake-cli use is served; anything else
// answers ENOSYS, which they take for a file system without it.

#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static const char* under;
static long delay_us;

// Set by a request that makes an entry: libfuse then asks getattr for the
// new entry's attributes on the same thread, which a share answers in the
// same round trip as the request itself, so that look is not held up again.
static _Thread_local int answered_in_reply;

static void Wait(void) {
  if (delay_us <= 0) return;
  if (answered_in_reply) {
    answered_in_reply = 0;
    return;
  }
  const struct timespec pause = {.tv_sec = delay_us / 1000000,
                                 .tv_nsec = (delay_us % 1000000) * 1000};
  nanosleep(&pause, NULL);
}

// The path beneath for a path of the mount; false when it does not fit.
static int Beneath(const char* path, char* out) {
  return snprintf(out, PATH_MAX, "%s%s", under, path) < PATH_MAX;
}

#define BENEATH(name, path)        \
  char name[PATH_MAX];             \
  Wait();                          \
  if (!Beneath(path, name)) return -ENAMETOOLONG

static int Answer(int result) { return result < 0 ? -errno : result; }

// The same for a request that makes an entry.
static int Answered(int result) {
  if (result < 0) return -errno;
  answered_in_reply = 1;
  return result;
}

static int DoGetattr(const char* path, struct stat* status, struct fuse_file_info* file) {
  if (file != NULL) {
    Wait();
    return Answer(fstat((int)file->fh, status));
  }
  BENEATH(real, path);
  return Answer(lstat(real, status));
}

static int DoReadlink(const char* path, char* buffer, size_t size) {
  BENEATH(real, path);
  const ssize_t length = readlink(real, buffer, size - 1);
  if (length < 0) return -errno;
  buffer[length] = '\0';
  return 0;
}

static int DoMkdir(const char* path, mode_t mode) {
  BENEATH(real, path);
  return Answered(mkdir(real, mode));
}

static int DoUnlink(const char* path) {
  BENEATH(real, path);
  return Answer(unlink(real));
}

static int DoRmdir(const char* path) {
  BENEATH(real, path);
  return Answer(rmdir(real));
}

static int DoSymlink(const char* target, const char* path) {
  BENEATH(real, path);
  return Answered(symlink(target, real));
}

static int DoRename(const char* from, const char* to, unsigned int flags) {
  BENEATH(real_from, from);
  char real_to[PATH_MAX];
  if (!Beneath(to, real_to)) return -ENAMETOOLONG;
  return Answer((int)syscall(SYS_renameat2, AT_FDCWD, real_from, AT_FDCWD, real_to, flags));
}

static int DoLink(const char* from, const char* to) {
  BENEATH(real_from, from);
  char real_to[PATH_MAX];
  if (!Beneath(to, real_to)) return -ENAMETOOLONG;
  return Answered(link(real_from, real_to));
}

static int DoChmod(const char* path, mode_t mode, struct fuse_file_info* file) {
  if (file != NULL) {
    Wait();
    return Answer(fchmod((int)file->fh, mode));
  }
  BENEATH(real, path);
  return Answer(chmod(real, mode));
}

static int DoChown(const char* path, uid_t owner, gid_t group, struct fuse_file_info* file) {
  if (file != NULL) {
    Wait();
    return Answer(fchown((int)file->fh, owner, group));
  }
  BENEATH(real, path);
  return Answer(lchown(real, owner, group));
}

static int DoTruncate(const char* path, off_t size, struct fuse_file_info* file) {
  if (file != NULL) {
    Wait();
    return Answer(ftruncate((int)file->fh, size));
  }
  BENEATH(real, path);
  return Answer(truncate(real, size));
}

static int DoUtimens(const char* path, const struct timespec times[2],
                     struct fuse_file_info* file) {
  if (file != NULL) {
    Wait();
    return Answer(futimens((int)file->fh, times));
  }
  BENEATH(real, path);
  return Answer(utimensat(AT_FDCWD, real, times, AT_SYMLINK_NOFOLLOW));
}

static int DoCreate(const char* path, mode_t mode, struct fuse_file_info* file) {
  BENEATH(real, path);
  const int fd = open(real, file->flags, mode);
  if (fd < 0) return -errno;
  file->fh = (uint64_t)fd;
  answered_in_reply = 1;
  return 0;
}

static int DoOpen(const char* path, struct fuse_file_info* file) {
  BENEATH(real, path);
  const int fd = open(real, file->flags);
  if (fd < 0) return -errno;
  file->fh = (uint64_t)fd;
  return 0;
}

static int DoRead(const char* path, char* buffer, size_t size, off_t offset,
                  struct fuse_file_info* file) {
  (void)path;
  Wait();
  const ssize_t got = pread((int)file->fh, buffer, size, offset);
  return got < 0 ? -errno : (int)got;
}

static int DoWrite(const char* path, const char* buffer, size_t size, off_t offset,
                   struct fuse_file_info* file) {
  (void)path;
  Wait();
  const ssize_t put = pwrite((int)file->fh, buffer, size, offset);
  return put < 0 ? -errno : (int)put;
}

static int DoStatfs(const char* path, struct statvfs* status) {
  BENEATH(real, path);
  return Answer(statvfs(real, status));
}

// Each close of a descriptor of the file: a deferred write error beneath
// surfaces here, as on a network file system.
static int DoFlush(const char* path, struct fuse_file_info* file) {
  (void)path;
  Wait();
  const int copy = dup((int)file->fh);
  if (copy < 0) return -errno;
  return Answer(close(copy));
}

static int DoRelease(const char* path, struct fuse_file_info* file) {
  (void)path;
  close((int)file->fh);
  return 0;
}

static int DoFsync(const char* path, int data_only, struct fuse_file_info* file) {
  (void)path;
  Wait();
  return Answer(data_only ? fdatasync((int)file->fh) : fsync((int)file->fh));
}

static int DoOpendir(const char* path, struct fuse_file_info* file) {
  BENEATH(real, path);
  DIR* dir = opendir(real);
  if (dir == NULL) return -errno;
  file->fh = (uint64_t)(uintptr_t)dir;
  return 0;
}

static int DoReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                     struct fuse_file_info* file, enum fuse_readdir_flags flags) {
  (void)path;
  (void)offset;
  (void)flags;
  Wait();
  DIR* dir = (DIR*)(uintptr_t)file->fh;
  rewinddir(dir);
  for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
    struct stat status = {.st_ino = entry->d_ino, .st_mode = (mode_t)(DTTOIF(entry->d_type))};
    if (fill(buffer, entry->d_name, &status, 0, 0) != 0) break;
  }
  return 0;
}

static int DoReleasedir(const char* path, struct fuse_file_info* file) {
  (void)path;
  closedir((DIR*)(uintptr_t)file->fh);
  return 0;
}

static int DoAccess(const char* path, int mode) {
  BENEATH(real, path);
  return Answer(access(real, mode));
}

static void* DoInit(struct fuse_conn_info* connection, struct fuse_config* config) {
  (void)connection;
  // Inode numbers and hard links as beneath, so that tools can tell files
  // apart; no caching that would hide the latency of lookups.
  config->use_ino = 1;
  config->nullpath_ok = 1;
  return NULL;
}

static const struct fuse_operations kOperations = {
    .init = DoInit,
    .getattr = DoGetattr,
    .readlink = DoReadlink,
    .mkdir = DoMkdir,
    .unlink = DoUnlink,
    .rmdir = DoRmdir,
    .symlink = DoSymlink,
    .rename = DoRename,
    .link = DoLink,
    .chmod = DoChmod,
    .chown = DoChown,
    .truncate = DoTruncate,
    .utimens = DoUtimens,
    .create = DoCreate,
    .open = DoOpen,
    .read = DoRead,
    .write = DoWrite,
    .statfs = DoStatfs,
    .flush = DoFlush,
    .release = DoRelease,
    .fsync = DoFsync,
    .opendir = DoOpendir,
    .readdir = DoReaddir,
    .releasedir = DoReleasedir,
    .access = DoAccess,
};

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s UNDER MOUNT_POINT DELAY_MICROSECONDS [FUSE OPTIONS]\n", argv[0]);
    return 2;
  }
  static char real_under[PATH_MAX];
  if (realpath(argv[1], real_under) == NULL) {
    perror(argv[1]);
    return 1;
  }
  under = real_under;
  delay_us = strtol(argv[3], NULL, 10);
  // fuse_main takes the program name, the mount point and the options.
  char* fuse_argv[64];
  int fuse_argc = 0;
  fuse_argv[fuse_argc++] = argv[0];
  fuse_argv[fuse_argc++] = argv[2];
  for (int k = 4; k < argc && fuse_argc < 63; ++k) fuse_argv[fuse_argc++] = argv[k];
  fuse_argv[fuse_argc] = NULL;
  return fuse_main(fuse_argc, fuse_argv, &kOperations, NULL);
}
