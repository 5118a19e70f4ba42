// A file system for the bench's network mode: a passthrough of a backing
// directory that waits a set time in every request, as a share on a server
// does, and counts the requests of each kind it served.
//
//     latencyfs BACKING MOUNTPOINT [--delay-us N] [--stats FILE] [--threads N]
//               [--entry-timeout S] [--attr-timeout S] [--access]
//
// Runs in the foreground until unmounted (fusermount3 -u MOUNTPOINT), then
// writes one "name count" line per kind of request to FILE (default: standard
// error). Listings carry each entry's attributes (readdirplus), as NFS
// READDIRPLUS and SMB directory queries do. As an NFS client does, the kernel
// keeps names it looked up for a while (--entry-timeout, default 1 s), but
// attributes not at all (--attr-timeout, default 0): every attribute read is
// a round trip. Permission checks (chdir's, for one) are answered without a
// request, as share clients answer them from their caches, unless --access
// makes each an ACCESS round trip.
// Built by bench.py (cc latencyfs.c $(pkg-config --cflags --libs fuse3)).
#define FUSE_USE_VERSION 314
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

enum { kGetattr, kOpendir, kReaddir, kReleasedir, kUnlink, kRmdir, kOpen, kRead, kRelease,
       kStatfs, kAccess, kReadlink, kChmod, kKinds };
static const char* const kNames[kKinds] = {"getattr", "opendir", "readdir", "releasedir", "unlink",
                                           "rmdir", "open", "read", "release", "statfs",
                                           "access", "readlink", "chmod"};

static atomic_ulong counts[kKinds];
static long delayNs = 500000;
static int backing = -1;
static const char* statsPath;
static double entryTimeout = 1.0;
static double attrTimeout = 0.0;

// Every request pays the round trip before it is served.
static void Trip(int kind) {
  atomic_fetch_add(&counts[kind], 1);
  struct timespec wait = {delayNs / 1000000000L, delayNs % 1000000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

// The backing path of a request's path: "/" is the backing directory itself.
static const char* Rel(const char* path) { return path[1] ? path + 1 : "."; }

static int Getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  Trip(kGetattr);
  return fstatat(backing, Rel(path), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static int Readlink(const char* path, char* buf, size_t size) {
  Trip(kReadlink);
  ssize_t n = readlinkat(backing, Rel(path), buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}

static int Access(const char* path, int mask) {
  Trip(kAccess);
  return faccessat(backing, Rel(path), mask, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static int Opendir(const char* path, struct fuse_file_info* fi) {
  Trip(kOpendir);
  int fd = openat(backing, Rel(path), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -errno;
  DIR* dir = fdopendir(fd);
  if (dir == NULL) {
    int error = errno;
    close(fd);
    return -error;
  }
  fi->fh = (uint64_t)(uintptr_t)dir;
  return 0;
}

// One request fills one reply buffer; the kernel asks again from the offset
// of the last entry it took.
static int Readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                   struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)path;
  (void)flags;
  Trip(kReaddir);
  DIR* dir = (DIR*)(uintptr_t)fi->fh;
  if (offset == 0)
    rewinddir(dir);
  else
    seekdir(dir, offset);
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == NULL) return errno ? -errno : 0;
    struct stat st;
    memset(&st, 0, sizeof st);
    enum fuse_fill_dir_flags with = 0;
    if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      with = FUSE_FILL_DIR_PLUS;
    } else {
      st.st_ino = d->d_ino;
      st.st_mode = (mode_t)DTTOIF(d->d_type);
    }
    if (fill(buf, d->d_name, &st, telldir(dir), with)) return 0;
  }
}

static int Releasedir(const char* path, struct fuse_file_info* fi) {
  (void)path;
  Trip(kReleasedir);
  closedir((DIR*)(uintptr_t)fi->fh);
  return 0;
}

// Deletions served at once, and the most seen: how far a client overlaps them.
static atomic_long unlinking;
static atomic_long mostUnlinking;

static int Unlink(const char* path) {
  long now = atomic_fetch_add(&unlinking, 1) + 1;
  long most = atomic_load(&mostUnlinking);
  while (now > most && !atomic_compare_exchange_weak(&mostUnlinking, &most, now)) {
  }
  Trip(kUnlink);
  int result = unlinkat(backing, Rel(path), 0) == 0 ? 0 : -errno;
  atomic_fetch_sub(&unlinking, 1);
  return result;
}

static int Rmdir(const char* path) {
  Trip(kRmdir);
  return unlinkat(backing, Rel(path), AT_REMOVEDIR) == 0 ? 0 : -errno;
}

static int Chmod(const char* path, mode_t mode, struct fuse_file_info* fi) {
  (void)fi;
  Trip(kChmod);
  return fchmodat(backing, Rel(path), mode, 0) == 0 ? 0 : -errno;
}

static int Open(const char* path, struct fuse_file_info* fi) {
  Trip(kOpen);
  int fd = openat(backing, Rel(path), fi->flags & ~O_CREAT);
  if (fd < 0) return -errno;
  fi->fh = (uint64_t)fd;
  return 0;
}

static int Read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  (void)path;
  Trip(kRead);
  ssize_t n = pread((int)fi->fh, buf, size, offset);
  return n < 0 ? -errno : (int)n;
}

static int Release(const char* path, struct fuse_file_info* fi) {
  (void)path;
  Trip(kRelease);
  close((int)fi->fh);
  return 0;
}

static int Statfs(const char* path, struct statvfs* st) {
  Trip(kStatfs);
  (void)path;
  return fstatvfs(backing, st) == 0 ? 0 : -errno;
}

static void* Init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  (void)conn;
  cfg->entry_timeout = entryTimeout;
  cfg->attr_timeout = attrTimeout;
  cfg->negative_timeout = 0;
  cfg->use_ino = 1;
  cfg->readdir_ino = 1;
  return NULL;
}

static void Destroy(void* data) {
  (void)data;
  FILE* out = statsPath ? fopen(statsPath, "w") : stderr;
  if (out == NULL) return;
  for (int i = 0; i < kKinds; ++i) fprintf(out, "%s %lu\n", kNames[i], atomic_load(&counts[i]));
  fprintf(out, "unlinks-in-flight-at-most %ld\n", atomic_load(&mostUnlinking));
  if (out != stderr) fclose(out);
}

static struct fuse_operations operations = {
    .getattr = Getattr,
    .readlink = Readlink,
    .unlink = Unlink,
    .rmdir = Rmdir,
    .chmod = Chmod,
    .open = Open,
    .read = Read,
    .statfs = Statfs,
    .release = Release,
    .opendir = Opendir,
    .readdir = Readdir,
    .releasedir = Releasedir,
    .init = Init,
    .destroy = Destroy,
};

int main(int argc, char** argv) {
  const char* source = NULL;
  const char* mountpoint = NULL;
  int threads = 64;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--delay-us") == 0 && i + 1 < argc) {
      delayNs = atol(argv[++i]) * 1000L;
    } else if (strcmp(argv[i], "--stats") == 0 && i + 1 < argc) {
      statsPath = argv[++i];
    } else if (strcmp(argv[i], "--entry-timeout") == 0 && i + 1 < argc) {
      entryTimeout = atof(argv[++i]);
    } else if (strcmp(argv[i], "--attr-timeout") == 0 && i + 1 < argc) {
      attrTimeout = atof(argv[++i]);
    } else if (strcmp(argv[i], "--access") == 0) {
      operations.access = Access;
    } else if (strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = atoi(argv[++i]);
    } else if (source == NULL) {
      source = argv[i];
    } else if (mountpoint == NULL) {
      mountpoint = argv[i];
    } else {
      mountpoint = NULL;
      break;
    }
  }
  if (source == NULL || mountpoint == NULL) {
    fprintf(stderr, "usage: latencyfs BACKING MOUNTPOINT [--delay-us N] [--stats FILE] [--threads N]\n"
                    "                 [--entry-timeout S] [--attr-timeout S] [--access]\n");
    return 2;
  }
  backing = open(source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (backing < 0) {
    perror(source);
    return 1;
  }
  char* fuseArgv[] = {argv[0], "-o", "fsname=latencyfs,subtype=latencyfs", NULL};
  struct fuse_args args = FUSE_ARGS_INIT(3, fuseArgv);
  struct fuse* fs = fuse_new(&args, &operations, sizeof operations, NULL);
  if (fs == NULL) return 1;
  if (fuse_mount(fs, mountpoint) != 0) {
    fuse_destroy(fs);
    return 1;
  }
  fuse_set_signal_handlers(fuse_get_session(fs));
  struct fuse_loop_config* loop = fuse_loop_cfg_create();
  fuse_loop_cfg_set_max_threads(loop, (unsigned)threads);
  fuse_loop_cfg_set_idle_threads(loop, (unsigned)threads);
  int result = fuse_loop_mt(fs, loop);
  fuse_loop_cfg_destroy(loop);
  fuse_remove_signal_handlers(fuse_get_session(fs));
  fuse_unmount(fs);
  fuse_destroy(fs);
  return result == 0 ? 0 : 1;
}
