// A file system for the end-to-end tests that fails or stalls on cue: a
// passthrough of a backing directory's listings, statuses and deletions
// (files are not read), whose faults, named on its command line, are those
// of a share that breaks down part-way.
//
//     faultfs BACKING MOUNTPOINT [--stats FILE] [--lifetime S] [FAULT...]
//
//     --stall-opendir NAME   opening a directory named NAME never answers
//     --stall-getattr NAME   the status of an entry named NAME never answers
//     --fail-opendir NAME    opening a directory named NAME fails (EIO)
//     --fail-getattr NAME    the status of an entry named NAME fails (EIO)
//     --fail-readdir NAME:N  a listing of NAME gives N names, then fails (EIO)
//     --fail-unlink NAME     deleting an entry named NAME fails (EIO), as a
//                            server refuses what its client could not foresee
//     --chmod-on-unlink NAME:OTHER
//                            deleting NAME first makes OTHER, beside it,
//                            read-only, 300 ms on: what was read of it
//                            before is out of date by then
//     --untyped              listings give no entry's type, as some file
//                            systems' do not
//
// NAME is a path's last component; "/" names the root. A stalled request is
// answered when its caller is interrupted (as a share client's request is
// cut short by a fatal signal; the kernel forwards the interrupt), else only
// by the end of the process: --lifetime S ends the process after S seconds,
// so no test can hang for good. Unmounted (fusermount3 -u), it writes one "name
// count" line per kind of request to FILE. As on a share, listings carry
// each entry's attributes (readdirplus), attributes are never kept and names
// only briefly, so every status read is a request.
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
#include <unistd.h>

enum { kGetattr, kOpendir, kReaddir, kReleasedir, kUnlink, kRmdir, kStatfs, kReadlink, kKinds };
static const char* const kNames[kKinds] = {"getattr", "opendir", "readdir", "releasedir",
                                           "unlink",  "rmdir",   "statfs",  "readlink"};

enum Action {
  kStallOpendir,
  kStallGetattr,
  kFailOpendir,
  kFailGetattr,
  kFailReaddir,
  kFailUnlink,
  kChmodOnUnlink,
  kActions
};
static const char* const kOptions[kActions] = {
    "--stall-opendir", "--stall-getattr", "--fail-opendir",   "--fail-getattr",
    "--fail-readdir",  "--fail-unlink",   "--chmod-on-unlink"};

static struct Fault {
  enum Action action;
  const char* name;
  long after;         // names a failing listing gives first
  const char* other;  // the entry a deletion makes read-only
} faults[16];
static int faultCount;
static int untyped;

static atomic_ulong counts[kKinds];
static int backing = -1;
static const char* statsPath;

// An open directory: where its listing stands, and how many names it gave.
struct Listing {
  DIR* dir;
  long given;
};

static const char* LastComponent(const char* path) {
  if (strcmp(path, "/") == 0) return path;
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The fault `action` set for `path`, or NULL.
static const struct Fault* FaultFor(enum Action action, const char* path) {
  const char* name = LastComponent(path);
  for (int i = 0; i < faultCount; ++i)
    if (faults[i].action == action && strcmp(faults[i].name, name) == 0) return &faults[i];
  return NULL;
}

// Never answers, unless the caller is interrupted: then EINTR.
static int Stall(void) {
  while (!fuse_interrupted()) pause();
  return -EINTR;
}

// The backing path of a request's path: "/" is the backing directory itself.
static const char* Rel(const char* path) { return path[1] ? path + 1 : "."; }

static int Getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  atomic_fetch_add(&counts[kGetattr], 1);
  if (FaultFor(kStallGetattr, path)) return Stall();
  if (FaultFor(kFailGetattr, path)) return -EIO;
  return fstatat(backing, Rel(path), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static int Readlink(const char* path, char* buf, size_t size) {
  atomic_fetch_add(&counts[kReadlink], 1);
  ssize_t n = readlinkat(backing, Rel(path), buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}

static int Opendir(const char* path, struct fuse_file_info* fi) {
  atomic_fetch_add(&counts[kOpendir], 1);
  if (FaultFor(kStallOpendir, path)) return Stall();
  if (FaultFor(kFailOpendir, path)) return -EIO;
  int fd = openat(backing, Rel(path), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -errno;
  struct Listing* listing = calloc(1, sizeof *listing);
  if (listing == NULL || (listing->dir = fdopendir(fd)) == NULL) {
    free(listing);
    close(fd);
    return -ENOMEM;
  }
  fi->fh = (uint64_t)(uintptr_t)listing;
  return 0;
}

// One request fills one reply buffer; the kernel asks again from the offset
// of the last entry it took. A failing listing ends its reply before the
// name it fails at, so the names given reach the caller and the next
// request fails.
static int Readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                   struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)flags;
  atomic_fetch_add(&counts[kReaddir], 1);
  struct Listing* listing = (struct Listing*)(uintptr_t)fi->fh;
  const struct Fault* fault = FaultFor(kFailReaddir, path);
  DIR* dir = listing->dir;
  if (offset == 0)
    rewinddir(dir);
  else
    seekdir(dir, offset);
  for (int filled = 0;; ++filled) {
    off_t before = telldir(dir);
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == NULL) return errno ? -errno : 0;
    const int dots = strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0;
    if (fault && !dots && listing->given >= fault->after) {
      seekdir(dir, before);
      return filled ? 0 : -EIO;
    }
    struct stat st;
    memset(&st, 0, sizeof st);
    enum fuse_fill_dir_flags with = 0;
    if (untyped) {
      st.st_ino = d->d_ino;
    } else if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      with = FUSE_FILL_DIR_PLUS;
    } else {
      st.st_ino = d->d_ino;
      st.st_mode = (mode_t)DTTOIF(d->d_type);
    }
    if (fill(buf, d->d_name, &st, telldir(dir), with)) return 0;
    if (!dots) ++listing->given;
  }
}

static int Releasedir(const char* path, struct fuse_file_info* fi) {
  (void)path;
  atomic_fetch_add(&counts[kReleasedir], 1);
  struct Listing* listing = (struct Listing*)(uintptr_t)fi->fh;
  closedir(listing->dir);
  free(listing);
  return 0;
}

static int Unlink(const char* path) {
  atomic_fetch_add(&counts[kUnlink], 1);
  const struct Fault* chmodding = FaultFor(kChmodOnUnlink, path);
  if (chmodding) {
    char other[4096];
    const char* rel = Rel(path);
    // The request's directory part, its slash kept, less the leading one.
    int dirLength = (int)(LastComponent(path) - path) - 1;
    snprintf(other, sizeof other, "%.*s%s", dirLength, rel, chmodding->other);
    usleep(300 * 1000);
    fchmodat(backing, other, 0444, 0);
  }
  if (FaultFor(kFailUnlink, path)) return -EIO;
  return unlinkat(backing, Rel(path), 0) == 0 ? 0 : -errno;
}

static int Rmdir(const char* path) {
  atomic_fetch_add(&counts[kRmdir], 1);
  return unlinkat(backing, Rel(path), AT_REMOVEDIR) == 0 ? 0 : -errno;
}

static int Statfs(const char* path, struct statvfs* st) {
  (void)path;
  atomic_fetch_add(&counts[kStatfs], 1);
  return fstatvfs(backing, st) == 0 ? 0 : -errno;
}

static void* Init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  (void)conn;
  cfg->entry_timeout = 0.1;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->use_ino = 1;
  cfg->readdir_ino = 1;
  // An interrupt of the caller reaches the thread serving it (SIGUSR1).
  cfg->intr = 1;
  return NULL;
}

static void Destroy(void* data) {
  (void)data;
  FILE* out = statsPath ? fopen(statsPath, "w") : NULL;
  if (out == NULL) return;
  for (int i = 0; i < kKinds; ++i) fprintf(out, "%s %lu\n", kNames[i], atomic_load(&counts[i]));
  fclose(out);
}

static const struct fuse_operations operations = {
    .getattr = Getattr,
    .readlink = Readlink,
    .unlink = Unlink,
    .rmdir = Rmdir,
    .statfs = Statfs,
    .opendir = Opendir,
    .readdir = Readdir,
    .releasedir = Releasedir,
    .init = Init,
    .destroy = Destroy,
};

// Takes argv[i] (and its value) as a fault; false when it names none.
static int ParseFault(char** argv, int argc, int* i) {
  for (int action = 0; action < kActions; ++action) {
    if (strcmp(argv[*i], kOptions[action]) != 0 || *i + 1 >= argc) continue;
    if (faultCount == (int)(sizeof faults / sizeof faults[0])) return 0;
    struct Fault* fault = &faults[faultCount++];
    fault->action = (enum Action)action;
    fault->name = argv[++*i];
    if (action == kFailReaddir || action == kChmodOnUnlink) {
      char* colon = strrchr(argv[*i], ':');
      if (colon == NULL) return 0;
      *colon = '\0';
      fault->after = atol(colon + 1);
      fault->other = colon + 1;
    }
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  const char* source = NULL;
  const char* mountpoint = NULL;
  int usable = 1;
  for (int i = 1; i < argc && usable; ++i) {
    if (strcmp(argv[i], "--stats") == 0 && i + 1 < argc)
      statsPath = argv[++i];
    else if (strcmp(argv[i], "--untyped") == 0)
      untyped = 1;
    else if (strcmp(argv[i], "--lifetime") == 0 && i + 1 < argc)
      alarm((unsigned)atoi(argv[++i]));  // SIGALRM's default action ends the process
    else if (strncmp(argv[i], "--", 2) == 0)
      usable = ParseFault(argv, argc, &i);
    else if (source == NULL)
      source = argv[i];
    else if (mountpoint == NULL)
      mountpoint = argv[i];
    else
      usable = 0;
  }
  if (!usable || source == NULL || mountpoint == NULL) {
    fprintf(
        stderr,
        "usage: faultfs BACKING MOUNTPOINT [--stats FILE] [--lifetime S] [--stall-opendir\n"
        "  | --stall-getattr | --fail-opendir | --fail-getattr | --fail-unlink NAME\n"
        "  | --fail-readdir NAME:N | --chmod-on-unlink NAME:OTHER | --untyped]...\n");
    return 2;
  }
  backing = open(source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (backing < 0) {
    perror(source);
    return 1;
  }
  char* fuseArgv[] = {argv[0], "-o", "fsname=faultfs,subtype=faultfs", NULL};
  struct fuse_args args = FUSE_ARGS_INIT(3, fuseArgv);
  struct fuse* fs = fuse_new(&args, &operations, sizeof operations, NULL);
  int result = 1;
  if (fs != NULL && fuse_mount(fs, mountpoint) == 0) {
    fuse_set_signal_handlers(fuse_get_session(fs));
    struct fuse_loop_config* loop = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(loop, 16);
    result = fuse_loop_mt(fs, loop) == 0 ? 0 : 1;
    fuse_loop_cfg_destroy(loop);
    fuse_remove_signal_handlers(fuse_get_session(fs));
    fuse_unmount(fs);
  }
  if (fs != NULL) fuse_destroy(fs);
  // fuse_new adds to the arguments it is given: what it added goes too.
  fuse_opt_free_args(&args);
  return result;
}
