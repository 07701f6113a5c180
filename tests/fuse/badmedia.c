/*
 * badmedia: a FUSE file system that plays a damaged disc for the tests.
 *
 *   badmedia --store=DIR MOUNTPOINT [fuse options]      (as root)
 *
 * The mount has three folders:
 *
 * v/    Read-only virtual files. Any name made of items separated by ','
 *       followed by an extension (".bin", ".txt", ...) names a file:
 *         size=N        its size in bytes (required)
 *         salt=N        the content's salt (default 0)
 *         bad=A-B       bytes A to B inclusive cannot be read (up to 64 of these)
 *         badevery=S-L[-F[-N]]
 *                       many unreadable spots: bytes F+k*S to F+k*S+L-1 for
 *                       k = 0, 1, ... (N spots, or to the end of the file when
 *                       N is left out); F is 0 when left out; S and L at least 1
 *                       (up to 8 of these)
 *         slow=MS       every read waits MS milliseconds
 *         stall=MS      a read that fails waits MS milliseconds first
 *         sector=N      the file is read as a drive reads a disc, in sectors of
 *                       N bytes (on the N grid from byte 0): a read that touches
 *                       a sector holding an unreadable byte fails whole, so a
 *                       read that ends just before a bad byte fails too when
 *                       that byte's sector is one it touches (e.g. 2048 for a
 *                       CD or DVD). Without it every byte stands alone.
 *         id=TEXT       a free tag (letters, digits, '_'), to make names differ
 *         from=NAME     the content is that of the file NAME (letters, digits,
 *                       '_') in the writable folder w/ instead of the computed
 *                       one (zeros past its end): a disc image made by a test
 *                       becomes a damaged disc (salt is then ignored)
 *       Numbers are decimal and may end in K, M or G (times 1024, 1024^2, 1024^3).
 *       Example: "size=5000,salt=3,bad=100-199,bad=4000-4099.bin"; 10,000 spots
 *       of 100 bytes, one every 4 KiB from 2048: "size=40M,badevery=4K-100-2K-10000.bin".
 *       The content is computed, so sizes of many GiB cost nothing:
 *         w(k)  = mix(k * 0x9E3779B97F4A7C15 + salt)   (64-bit arithmetic)
 *         mix(z): z ^= z >> 30; z *= 0xBF58476D1CE4E5B9; z ^= z >> 27;
 *                 z *= 0x94D049BB133111EB; z ^= z >> 31
 *         byte i = (w(i / 8) >> (8 * (i % 8))) & 0xFF
 *       A read that touches an unreadable byte fails as a whole with EIO; reads
 *       are passed through unwidened (direct_io), so a read that ends just
 *       before a bad byte succeeds. Opening a virtual file for writing fails
 *       with EACCES (and is logged). Directly in v/ every valid name exists
 *       without being listed. "mkdir" makes a virtual folder in v/ (also nested);
 *       in such a folder a file exists, and is listed, once it has been created
 *       (an open with O_CREAT, e.g. CreateFile with CREATE_NEW), which keeps
 *       it open for reading only. A virtual folder whose name ends in
 *       ".unreadable" cannot be opened (EIO), so it cannot be listed.
 * w/    A writable folder backed by the store folder. While a byte budget is
 *       set, a write that does not fit in what is left fails with ENOSPC and
 *       writes nothing; a write that fits uses up its length.
 * The mount reports blocks of 2048 bytes (statfs), as a disc's volume does:
 * Wine then gives its files 2048 bytes a sector (GetDiskFreeSpaceW).
 * ctl/  Control files:
 *         log     every open and create in v/ and w/, one line each:
 *                 "<open|create> <r|w|rw>[+trunc][+append] <ok|ERRNO> <path>"
 *                 (path from the mount's root, e.g. "/v/size=10.bin");
 *                 truncating it (opening it with truncation) clears it.
 *         heal    writing file names (one a line, the last part of the path,
 *                 or "*" for all) makes their bad ranges readable; reading
 *                 lists them; truncating it clears the list.
 *         budget  writing a number sets the bytes w/ may still take; writing
 *                 "unlimited" (or nothing) lifts the limit; reading shows it.
 *         fails   the number of reads of v/ that failed with EIO (one line,
 *                 in decimal); truncating it sets it back to 0.
 *         link    writing lines "PATH TARGET" makes PATH (from the mount's
 *                 root, in a virtual folder of v/) a symbolic link whose text
 *                 is TARGET (e.g. "../other" or ".."); the same line again
 *                 is no error; reading lists them.
 *         medium  the disc in the drive. Writing "out" takes it out: every
 *                 attribute read (stat), open, folder listing and read in v/
 *                 (v/ itself included, and handles opened before) then fails
 *                 with ENOMEDIUM, whatever the kernel had cached (the kernel is
 *                 told to forget the attributes it holds of v/), and such
 *                 reads are not counted in ctl/fails. "in" puts it back: the
 *                 same handles read again. "out N" takes it out after N more
 *                 reads of v/ (ok or failing). Reading shows "in", "out", or
 *                 "out N" while N reads are still to go.
 *         trace   one line per read of v/ since it was last truncated:
 *                 "<seq> <ok|fail|out> <offset> <size> <path>", seq counting
 *                 from 1, size as asked, path as in the log; "fail" is a read
 *                 counted in ctl/fails, "out" one made while the disc was out.
 *                 Tracing costs memory, so it is off until ctl/trace is first
 *                 truncated (which clears it and starts tracing); writing
 *                 "off" stops it and clears it, "on" goes on from where it was.
 *
 * Everything is held in memory and starts afresh with each mount.
 *
 * What Wine 8 reports with the disc out (ENOMEDIUM; checked through Wine):
 * GetFileAttributesW and GetFileAttributesExW of a file in v/ or of v\ itself,
 * CreateFileW of a file, ReadFile and GetFileSizeEx on a handle opened before:
 * all fail with ERROR_NOT_READY (21), as Windows reports a drive without a
 * disc. Listing a folder of v/ (FindFirstFileW) fails with ERROR_GEN_FAILURE
 * (31), and the Wine server prints "file_set_error() can't map error: No
 * medium found" on its error output. Once the disc is back, the handle opened
 * before reads again (no new open needed), and attributes and opens work. A
 * read of an unreadable sector fails with the same ERROR_NOT_READY under Wine
 * (EIO), so under Wine the error code of a failing read cannot tell a disc
 * taken out from damage: the attributes can.
 *
 * For speed the kernel keeps attributes and names for a minute (nothing changes
 * behind its back: w/ is written through the mount, v/ never changes but for
 * the disc going out, when the kernel is told to forget them) and the
 * file system runs on one thread (a 1-byte read under Wine costs about 20 us
 * instead of 50). So: read control files to their end rather than trusting
 * their size, and know that slow= and stall= hold up the whole mount.
 */
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#define MAX_BAD 64
/* What opens, attribute reads and reads of v/ fail with while the disc is out. */
#define OUT_ERRNO ENOMEDIUM
#define MAX_EVERY 8

/* Spots repeating every `stride` bytes: [from + k*stride, from + k*stride + len)
   for k < count. */
struct every {
  uint64_t stride, len, from, count;
};

struct vfile {
  uint64_t size, salt, sector; /* sector: 0 for none */
  unsigned slow_ms, stall_ms;
  int nbad, nevery;
  uint64_t bad_from[MAX_BAD], bad_to[MAX_BAD]; /* inclusive */
  struct every every[MAX_EVERY];
  char from[64]; /* the store file giving the content; "" for the computed one */
};

/* A growable text buffer (the log, the heal list, virtual folder entries). */
struct text {
  char* data;
  size_t len, cap;
};

static struct {
  pthread_mutex_t lock;
  char* store;
  struct text log;
  struct text healed;  /* "name\n" lines */
  struct text vpaths;  /* "/v/...\n" lines: virtual folders ("d "), files ("f ") and links ("l ") */
  struct text links;   /* "PATH TARGET\n" lines of the links */
  int64_t budget;      /* -1: unlimited */
  uint64_t fails;      /* reads of v/ that failed with EIO */
  int out;             /* the disc is out */
  int64_t out_after;   /* reads of v/ left before the disc goes out; -1: none pending */
  struct text seen;    /* "/v/...\n": paths whose attributes the kernel may hold */
  int tracing;         /* reads of v/ are traced (from the first truncation of ctl/trace) */
  uint64_t trace_seq;  /* reads traced since the trace was last cleared */
  struct text trace;
} g = {PTHREAD_MUTEX_INITIALIZER, NULL, {0}, {0}, {0}, {0}, -1, 0, 0, -1, {0}, 0, 0, {0}};

/* A fixed time for every virtual entry: 2008-02-03 12:00:00 UTC. */
static const time_t kFixedTime = 1202040000;

static void text_add(struct text* t, const char* s, size_t n) {
  if (t->len + n + 1 > t->cap) {
    size_t cap = t->cap ? t->cap : 256;
    while (cap < t->len + n + 1) cap *= 2;
    char* p = realloc(t->data, cap);
    if (!p) abort();
    t->data = p;
    t->cap = cap;
  }
  memcpy(t->data + t->len, s, n);
  t->len += n;
  t->data[t->len] = '\0';
}

/* Whether `t` holds the line `s` (without its '\n'). */
static int text_has_line(const struct text* t, const char* s) {
  size_t n = strlen(s);
  for (const char* p = t->data; p && p < t->data + t->len;) {
    const char* e = memchr(p, '\n', (size_t)(t->data + t->len - p));
    if (!e) break;
    if ((size_t)(e - p) == n && memcmp(p, s, n) == 0) return 1;
    p = e + 1;
  }
  return 0;
}

/* ---------------------------------------------------------------- content */

static uint64_t mix(uint64_t z) {
  z ^= z >> 30;
  z *= 0xBF58476D1CE4E5B9ULL;
  z ^= z >> 27;
  z *= 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return z;
}

static void fill(char* buf, uint64_t off, size_t n, uint64_t salt) {
  size_t i = 0;
  while (i < n) {
    uint64_t pos = off + i;
    uint64_t w = mix((pos / 8) * 0x9E3779B97F4A7C15ULL + salt);
    for (unsigned b = (unsigned)(pos % 8); b < 8 && i < n; ++b, ++i) buf[i] = (char)((w >> (8 * b)) & 0xFF);
  }
}

/* Whether bytes [a, b] (inclusive) touch a spot of `e`. */
static int every_touches(const struct every* e, uint64_t a, uint64_t b) {
  if (b < e->from || e->count == 0) return 0;
  /* The first spot that ends at or after `a`. */
  uint64_t k = 0;
  if (a >= e->from && a - e->from >= e->len) k = (a - e->from - e->len) / e->stride + 1;
  if (k >= e->count) return 0;
  if (k > (UINT64_MAX - e->from) / e->stride) return 0; /* beyond any file */
  return e->from + k * e->stride <= b;
}

/* Whether bytes [a, b] (inclusive) of the file touch an unreadable one. */
static int touches_bad(const struct vfile* sp, uint64_t a, uint64_t b) {
  for (int i = 0; i < sp->nbad; ++i)
    if (sp->bad_from[i] <= b && sp->bad_to[i] >= a) return 1;
  for (int i = 0; i < sp->nevery; ++i)
    if (every_touches(&sp->every[i], a, b)) return 1;
  return 0;
}

/* ------------------------------------------------------------ name syntax */

static int parse_num(const char** p, uint64_t* out) {
  const char* s = *p;
  if (*s < '0' || *s > '9') return 0;
  uint64_t v = 0;
  while (*s >= '0' && *s <= '9') {
    if (v > (UINT64_MAX - 9) / 10) return 0;
    v = v * 10 + (uint64_t)(*s++ - '0');
  }
  int shift = *s == 'K' ? 10 : *s == 'M' ? 20 : *s == 'G' ? 30 : 0;
  if (shift) {
    if (v > (UINT64_MAX >> shift)) return 0;
    v <<= shift;
    ++s;
  }
  *p = s;
  *out = v;
  return 1;
}

/* Parses the last part of a path in v/; returns 0 when it names no file. */
static int parse_name(const char* name, struct vfile* sp) {
  memset(sp, 0, sizeof *sp);
  const char* dot = strrchr(name, '.');
  if (!dot || dot == name) return 0;
  int have_size = 0;
  const char* p = name;
  while (p < dot) {
    uint64_t a, b;
    if (!strncmp(p, "size=", 5)) {
      p += 5;
      if (!parse_num(&p, &sp->size)) return 0;
      have_size = 1;
    } else if (!strncmp(p, "salt=", 5)) {
      p += 5;
      if (!parse_num(&p, &sp->salt)) return 0;
    } else if (!strncmp(p, "sector=", 7)) {
      p += 7;
      if (!parse_num(&p, &sp->sector) || sp->sector == 0) return 0;
    } else if (!strncmp(p, "badevery=", 9)) {
      p += 9;
      struct every e = {0, 0, 0, UINT64_MAX};
      if (sp->nevery == MAX_EVERY || !parse_num(&p, &e.stride) || *p++ != '-' || !parse_num(&p, &e.len) ||
          e.stride == 0 || e.len == 0)
        return 0;
      if (*p == '-' && (++p, !parse_num(&p, &e.from))) return 0;
      if (*p == '-' && (++p, !parse_num(&p, &e.count))) return 0;
      sp->every[sp->nevery++] = e;
    } else if (!strncmp(p, "bad=", 4)) {
      p += 4;
      if (!parse_num(&p, &a) || *p++ != '-' || !parse_num(&p, &b) || b < a || sp->nbad == MAX_BAD) return 0;
      sp->bad_from[sp->nbad] = a;
      sp->bad_to[sp->nbad++] = b;
    } else if (!strncmp(p, "slow=", 5) || !strncmp(p, "stall=", 6)) {
      int slow = p[1] == 'l';
      p += slow ? 5 : 6;
      if (!parse_num(&p, &a) || a > 600000) return 0;
      *(slow ? &sp->slow_ms : &sp->stall_ms) = (unsigned)a;
    } else if (!strncmp(p, "from=", 5)) {
      p += 5;
      const char* s = p;
      while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || *p == '_') ++p;
      if (p == s || (size_t)(p - s) >= sizeof sp->from) return 0;
      memcpy(sp->from, s, (size_t)(p - s));
      sp->from[p - s] = 0;
    } else if (!strncmp(p, "id=", 3)) {
      p += 3;
      const char* s = p;
      while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || *p == '_') ++p;
      if (p == s) return 0;
    } else {
      return 0;
    }
    if (p == dot) break;
    if (*p++ != ',') return 0;
  }
  return have_size && p == dot;
}

/* ----------------------------------------------------------------- paths */

enum area { NONE, ROOT, V, W, CTL };

static enum area area_of(const char* path, const char** rest) {
  *rest = "";
  if (!strcmp(path, "/")) return ROOT;
  const char* names[] = {NULL, NULL, "/v", "/w", "/ctl"};
  for (int a = V; a <= CTL; ++a) {
    size_t n = strlen(names[a]);
    if (!strncmp(path, names[a], n) && (path[n] == '\0' || path[n] == '/')) {
      *rest = path + n;
      return (enum area)a;
    }
  }
  return NONE;
}

static const char* last_part(const char* path) { return strrchr(path, '/') + 1; }

/* Whether the virtual folder `path` ("/v" or "/v/...") exists. Caller holds the lock. */
static int vdir_exists(const char* path) {
  if (!strcmp(path, "/v")) return 1;
  char line[PATH_MAX + 3];
  snprintf(line, sizeof line, "d %s", path);
  return text_has_line(&g.vpaths, line);
}

/* Whether the parent folder of `path` in v/ exists. Caller holds the lock. */
static int vparent_exists(const char* path) {
  char parent[PATH_MAX];
  size_t n = (size_t)(last_part(path) - 1 - path);
  if (n >= sizeof parent) return 0;
  memcpy(parent, path, n);
  parent[n] = '\0';
  return vdir_exists(parent);
}

/* Whether the virtual file `path` exists: any valid name directly in v/, a
   created one in a folder made in v/. Caller holds the lock. */
static int vfile_exists(const char* path, struct vfile* sp) {
  if (!parse_name(last_part(path), sp)) return 0;
  if (last_part(path) == path + 3) return 1; /* "/v/NAME" */
  char line[PATH_MAX + 3];
  snprintf(line, sizeof line, "f %s", path);
  return text_has_line(&g.vpaths, line);
}

static void store_path(char* out, const char* rest) { snprintf(out, PATH_MAX, "%s%s", g.store, rest); }

/* ---------------------------------------------------------- control files */

static const char* ctl_names[] = {"log", "heal", "budget", "fails", "link", "medium", "trace"};
enum { CTL_LOG, CTL_HEAL, CTL_BUDGET, CTL_FAILS, CTL_LINK, CTL_MEDIUM, CTL_TRACE, NCTL };

static int ctl_index(const char* rest) {
  for (int i = 0; i < NCTL; ++i)
    if (rest[0] == '/' && !strcmp(rest + 1, ctl_names[i])) return i;
  return -1;
}

/* Copies up to `size` bytes of control file `i` from `off` into `buf` (when
   not NULL); returns the file's whole length. */
static size_t ctl_slice(int i, uint64_t off, char* buf, size_t size, size_t* copied) {
  pthread_mutex_lock(&g.lock);
  char small[32];
  const char* src = small;
  const struct text* t = i == CTL_LOG ? &g.log : i == CTL_HEAL ? &g.healed : i == CTL_LINK ? &g.links
                       : i == CTL_TRACE ? &g.trace : NULL;
  size_t n;
  if (t) {
    src = t->data ? t->data : "";
    n = t->len;
  } else if (i == CTL_BUDGET) {
    n = g.budget < 0 ? (size_t)snprintf(small, sizeof small, "unlimited\n")
                     : (size_t)snprintf(small, sizeof small, "%lld\n", (long long)g.budget);
  } else if (i == CTL_MEDIUM) {
    n = g.out ? (size_t)snprintf(small, sizeof small, "out\n")
        : g.out_after >= 0 ? (size_t)snprintf(small, sizeof small, "out %lld\n", (long long)g.out_after)
                           : (size_t)snprintf(small, sizeof small, "in\n");
  } else {
    n = (size_t)snprintf(small, sizeof small, "%llu\n", (unsigned long long)g.fails);
  }
  size_t m = off >= n ? 0 : n - off < size ? n - off : size;
  if (buf) memcpy(buf, src + off, m);
  if (copied) *copied = m;
  pthread_mutex_unlock(&g.lock);
  return n;
}

/* The text of the link at `path`, or NULL. Caller holds the lock. */
static const char* link_target(const char* path, size_t* len) {
  size_t n = strlen(path);
  for (const char* p = g.links.data; p && p < g.links.data + g.links.len;) {
    const char* e = memchr(p, '\n', (size_t)(g.links.data + g.links.len - p));
    if (!e) break;
    if ((size_t)(e - p) > n && !memcmp(p, path, n) && p[n] == ' ') {
      *len = (size_t)(e - p) - n - 1;
      return p + n + 1;
    }
    p = e + 1;
  }
  return NULL;
}

/* Makes the link of one "PATH TARGET" line. Caller holds the lock. */
static int link_add(const char* s, size_t n) {
  const char* space = memchr(s, ' ', n);
  if (!space || space == s || space + 1 == s + n) return -EINVAL;
  char path[PATH_MAX], line[PATH_MAX + 3];
  size_t plen = (size_t)(space - s), had_len;
  if (plen >= sizeof path || strncmp(s, "/v/", 3)) return -EINVAL;
  memcpy(path, s, plen);
  path[plen] = '\0';
  struct vfile sp;
  if (!vparent_exists(path)) return -ENOENT;
  /* The same link made again (a test run twice on one mount) is no error. */
  const char* had = link_target(path, &had_len);
  if (had && had_len == n - plen - 1 && !memcmp(had, space + 1, had_len)) return 0;
  if (had || vdir_exists(path) || vfile_exists(path, &sp)) return -EEXIST;
  snprintf(line, sizeof line, "l %s\n", path);
  text_add(&g.vpaths, line, strlen(line));
  text_add(&g.links, s, n);
  text_add(&g.links, "\n", 1);
  return 0;
}

static void forget_attributes(void);

static int ctl_write(int i, const char* buf, size_t size) {
  pthread_mutex_lock(&g.lock);
  int rc = (int)size, went_out = 0;
  if (i == CTL_LOG || i == CTL_FAILS) {
    rc = -EACCES;
  } else if (i == CTL_LINK) {
    for (const char *p = buf, *end = buf + size; p < end && rc >= 0;) {
      const char* e = memchr(p, '\n', (size_t)(end - p));
      if (!e) e = end;
      size_t n = (size_t)(e - p);
      if (n && p[n - 1] == '\r') --n;
      if (n) {
        int made = link_add(p, n);
        if (made < 0) rc = made;
      }
      p = e + 1;
    }
  } else if (i == CTL_HEAL) {
    const char* p = buf;
    const char* end = buf + size;
    while (p < end) {
      const char* e = memchr(p, '\n', (size_t)(end - p));
      if (!e) e = end;
      size_t n = (size_t)(e - p);
      if (n && p[n - 1] == '\r') --n;
      if (n && n < NAME_MAX) {
        char name[NAME_MAX + 1];
        memcpy(name, p, n);
        name[n] = '\0';
        if (!text_has_line(&g.healed, name)) {
          text_add(&g.healed, name, n);
          text_add(&g.healed, "\n", 1);
        }
      }
      p = e + 1;
    }
  } else {
    char s[32];
    size_t n = size < sizeof s - 1 ? size : sizeof s - 1;
    memcpy(s, buf, n);
    s[n] = '\0';
    while (n && (s[n - 1] == '\n' || s[n - 1] == '\r' || s[n - 1] == ' ')) s[--n] = '\0';
    uint64_t v;
    const char* p = s;
    if (i == CTL_MEDIUM) {
      if (!strcmp(s, "in")) {
        g.out = 0;
        g.out_after = -1;
      } else if (!strcmp(s, "out") || (!strncmp(s, "out ", 4) && (p = s + 4, parse_num(&p, &v)) && *p == '\0' &&
                                       v <= INT64_MAX)) {
        int64_t after = s[3] ? (int64_t)v : 0;
        went_out = !g.out && after == 0;
        if (!g.out) g.out_after = after ? after : -1;
        g.out = g.out || went_out;
      } else {
        rc = -EINVAL;
      }
    } else if (i == CTL_TRACE) {
      if (!strcmp(s, "on")) {
        g.tracing = 1;
      } else if (!strcmp(s, "off")) {
        g.tracing = 0;
        g.trace_seq = g.trace.len = 0;
      } else {
        rc = -EINVAL;
      }
    } else if (n == 0 || !strcmp(s, "unlimited")) {
      g.budget = -1;
    } else if (parse_num(&p, &v) && *p == '\0' && v <= INT64_MAX) {
      g.budget = (int64_t)v;
    } else {
      rc = -EINVAL;
    }
  }
  pthread_mutex_unlock(&g.lock);
  if (went_out) forget_attributes();
  return rc;
}

static void ctl_truncate(int i) {
  pthread_mutex_lock(&g.lock);
  if (i == CTL_LOG) g.log.len = 0;
  if (i == CTL_HEAL) g.healed.len = 0;
  if (i == CTL_FAILS) g.fails = 0;
  if (i == CTL_TRACE) {
    g.tracing = 1;
    g.trace_seq = g.trace.len = 0;
  }
  pthread_mutex_unlock(&g.lock);
}

static int disc_out(void) {
  pthread_mutex_lock(&g.lock);
  int out = g.out;
  pthread_mutex_unlock(&g.lock);
  return out;
}

/* Makes the kernel ask again for the attributes of every path of v/ it may
   hold, so that a stat sees the disc out. Called without the lock. */
static void forget_attributes(void) {
  struct fuse* fuse = fuse_get_context()->fuse;
  pthread_mutex_lock(&g.lock);
  struct text seen = g.seen;
  memset(&g.seen, 0, sizeof g.seen);
  pthread_mutex_unlock(&g.lock);
  for (char* p = seen.data; p && p < seen.data + seen.len;) {
    char* e = strchr(p, '\n');
    *e = '\0';
    fuse_invalidate_path(fuse, p);
    p = e + 1;
  }
  free(seen.data);
}

/* ------------------------------------------------------------------- log */

static void log_open(const char* op, const char* path, int flags, int rc) {
  char line[PATH_MAX + 64];
  int acc = flags & O_ACCMODE;
  int n = snprintf(line, sizeof line, "%s %s%s%s %s %s\n", op, acc == O_RDONLY ? "r" : acc == O_WRONLY ? "w" : "rw",
                   flags & O_TRUNC ? "+trunc" : "", flags & O_APPEND ? "+append" : "",
                   rc == 0 ? "ok" : rc == -EACCES ? "EACCES" : rc == -ENOENT ? "ENOENT" : "error", path);
  pthread_mutex_lock(&g.lock);
  text_add(&g.log, line, (size_t)n);
  pthread_mutex_unlock(&g.lock);
}

/* ------------------------------------------------------------ operations */

static void* bm_init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  (void)conn;
  cfg->entry_timeout = 60;
  cfg->attr_timeout = 60;
  cfg->negative_timeout = 0; /* a name made in a virtual folder must appear at once */
  cfg->direct_io = 1;
  return NULL;
}

static void dir_stat(struct stat* st) {
  st->st_mode = S_IFDIR | 0755;
  st->st_nlink = 2;
  st->st_mtime = st->st_atime = st->st_ctime = kFixedTime;
}

static int bm_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  const char* rest;
  memset(st, 0, sizeof *st);
  switch (area_of(path, &rest)) {
    case ROOT:
      dir_stat(st);
      return 0;
    case V: {
      struct vfile sp;
      size_t link_len = 0;
      pthread_mutex_lock(&g.lock);
      if (g.out) {
        pthread_mutex_unlock(&g.lock);
        return -OUT_ERRNO;
      }
      int is_link = link_target(path, &link_len) != NULL;
      int is_dir = !is_link && vdir_exists(path), is_file = !is_link && !is_dir && vfile_exists(path, &sp);
      if ((is_link || is_dir || is_file) && !text_has_line(&g.seen, path)) {
        text_add(&g.seen, path, strlen(path));
        text_add(&g.seen, "\n", 1);
      }
      pthread_mutex_unlock(&g.lock);
      if (is_link) {
        st->st_mode = S_IFLNK | 0777;
        st->st_nlink = 1;
        st->st_size = (off_t)link_len;
        st->st_mtime = st->st_atime = st->st_ctime = kFixedTime;
        return 0;
      }
      if (is_dir) {
        dir_stat(st);
        return 0;
      }
      if (!is_file) return -ENOENT;
      st->st_mode = S_IFREG | 0444;
      st->st_nlink = 1;
      st->st_size = (off_t)sp.size;
      st->st_blocks = 0;
      st->st_mtime = st->st_atime = st->st_ctime = kFixedTime;
      return 0;
    }
    case W: {
      char real[PATH_MAX];
      store_path(real, rest);
      int rc = fi ? fstat((int)fi->fh, st) : lstat(real, st);
      return rc == 0 ? 0 : -errno;
    }
    case CTL: {
      if (!*rest) {
        dir_stat(st);
        return 0;
      }
      int i = ctl_index(rest);
      if (i < 0) return -ENOENT;
      st->st_mode = S_IFREG | 0666;
      st->st_nlink = 1;
      st->st_size = (off_t)ctl_slice(i, 0, NULL, 0, NULL);
      st->st_mtime = st->st_atime = st->st_ctime = time(NULL);
      return 0;
    }
    default:
      return -ENOENT;
  }
}

static int bm_readdir(const char* path, void* buf, fuse_fill_dir_t fill_dir, off_t off, struct fuse_file_info* fi,
                      enum fuse_readdir_flags flags) {
  (void)off, (void)fi, (void)flags;
  const char* rest;
  enum area a = area_of(path, &rest);
  fill_dir(buf, ".", NULL, 0, 0);
  fill_dir(buf, "..", NULL, 0, 0);
  if (a == ROOT) {
    fill_dir(buf, "v", NULL, 0, 0);
    fill_dir(buf, "w", NULL, 0, 0);
    fill_dir(buf, "ctl", NULL, 0, 0);
  } else if (a == CTL && !*rest) {
    for (int i = 0; i < NCTL; ++i) fill_dir(buf, ctl_names[i], NULL, 0, 0);
  } else if (a == V) {
    pthread_mutex_lock(&g.lock);
    if (!vdir_exists(path)) {
      pthread_mutex_unlock(&g.lock);
      return -ENOENT;
    }
    size_t plen = strlen(path);
    for (char* p = g.vpaths.data; p && p < g.vpaths.data + g.vpaths.len;) {
      char* e = strchr(p, '\n');
      char* full = p + 2;
      if ((size_t)(e - full) > plen + 1 && !strncmp(full, path, plen) && full[plen] == '/' &&
          !memchr(full + plen + 1, '/', (size_t)(e - full - (ptrdiff_t)plen - 1))) {
        char name[NAME_MAX + 1];
        size_t n = (size_t)(e - full) - plen - 1;
        if (n <= NAME_MAX) {
          memcpy(name, full + plen + 1, n);
          name[n] = '\0';
          fill_dir(buf, name, NULL, 0, 0);
        }
      }
      p = e + 1;
    }
    pthread_mutex_unlock(&g.lock);
  } else if (a == W) {
    char real[PATH_MAX];
    store_path(real, rest);
    DIR* d = opendir(real);
    if (!d) return -errno;
    for (struct dirent* de; (de = readdir(d));)
      if (strcmp(de->d_name, ".") && strcmp(de->d_name, "..")) fill_dir(buf, de->d_name, NULL, 0, 0);
    closedir(d);
  } else {
    return -ENOENT;
  }
  return 0;
}

/* A virtual folder named "*.unreadable" cannot be opened, nor any of v/
   while the disc is out. */
static int bm_opendir(const char* path, struct fuse_file_info* fi) {
  (void)fi;
  const char* rest;
  size_t n = strlen(path), suffix = strlen(".unreadable");
  if (area_of(path, &rest) != V) return 0;
  if (disc_out()) return -OUT_ERRNO;
  if (n > suffix && !strcmp(path + n - suffix, ".unreadable")) return -EIO;
  return 0;
}

static int bm_readlink(const char* path, char* buf, size_t size) {
  size_t n = 0;
  pthread_mutex_lock(&g.lock);
  const char* target = link_target(path, &n);
  if (target && size) {
    size_t m = n < size - 1 ? n : size - 1;
    memcpy(buf, target, m);
    buf[m] = '\0';
  }
  pthread_mutex_unlock(&g.lock);
  return target ? 0 : -EINVAL;
}

static int bm_mkdir(const char* path, mode_t mode) {
  const char* rest;
  enum area a = area_of(path, &rest);
  if (a == W) {
    char real[PATH_MAX];
    store_path(real, rest);
    return mkdir(real, mode) == 0 ? 0 : -errno;
  }
  if (a != V || !*rest) return -EACCES;
  pthread_mutex_lock(&g.lock);
  int rc = !vparent_exists(path) ? -ENOENT : vdir_exists(path) ? -EEXIST : 0;
  if (rc == 0) {
    text_add(&g.vpaths, "d ", 2);
    text_add(&g.vpaths, path, strlen(path));
    text_add(&g.vpaths, "\n", 1);
  }
  pthread_mutex_unlock(&g.lock);
  return rc;
}

/* The handle of an open virtual file is a copy of its description. */
static int attach_vfile(struct fuse_file_info* fi, const struct vfile* sp) {
  struct vfile* copy = malloc(sizeof *copy);
  if (!copy) return -ENOMEM;
  *copy = *sp;
  fi->fh = (uint64_t)(uintptr_t)copy;
  fi->direct_io = 1;
  return 0;
}

/* A file of the writable folder: its descriptor is the handle. */
static int attach_store_file(const char* op, const char* path, struct fuse_file_info* fi, int fd) {
  int rc = fd < 0 ? -errno : 0;
  log_open(op, path, fi->flags, rc);
  if (rc) return rc;
  fi->fh = (uint64_t)fd;
  fi->direct_io = 1;
  return 0;
}

static int bm_open_v(const char* path, struct fuse_file_info* fi, int creating) {
  struct vfile sp;
  pthread_mutex_lock(&g.lock);
  int exists = vfile_exists(path, &sp), out = g.out;
  pthread_mutex_unlock(&g.lock);
  int rc = 0;
  if (out)
    rc = -OUT_ERRNO;
  else if (!exists)
    rc = -ENOENT;
  else if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC))
    rc = -EACCES;
  log_open(creating ? "create" : "open", path, fi->flags, rc);
  if (rc) return rc;
  return attach_vfile(fi, &sp);
}

static int bm_open(const char* path, struct fuse_file_info* fi) {
  const char* rest;
  switch (area_of(path, &rest)) {
    case V:
      return bm_open_v(path, fi, 0);
    case W: {
      char real[PATH_MAX];
      store_path(real, rest);
      return attach_store_file("open", path, fi, open(real, fi->flags & ~O_CREAT));
    }
    case CTL:
      if (ctl_index(rest) < 0) return -ENOENT;
      if (fi->flags & O_TRUNC) ctl_truncate(ctl_index(rest));
      fi->direct_io = 1;
      return 0;
    default:
      return -EACCES;
  }
}

static int bm_create(const char* path, mode_t mode, struct fuse_file_info* fi) {
  const char* rest;
  enum area a = area_of(path, &rest);
  if (a == W) {
    char real[PATH_MAX];
    store_path(real, rest);
    return attach_store_file("create", path, fi, open(real, fi->flags | O_CREAT, mode));
  }
  if (a == V && *rest) {
    /* A valid name becomes an entry of its virtual folder; the file itself
       stays read-only, so it is opened for reading only. */
    struct vfile sp;
    int rc = disc_out() ? -OUT_ERRNO : parse_name(last_part(path), &sp) ? 0 : -EACCES;
    if (rc) {
      log_open("create", path, fi->flags, rc);
      return rc;
    }
    char line[PATH_MAX + 3];
    snprintf(line, sizeof line, "f %s", path);
    pthread_mutex_lock(&g.lock);
    int parent = vparent_exists(path);
    if (parent && !text_has_line(&g.vpaths, line)) {
      text_add(&g.vpaths, line, strlen(line));
      text_add(&g.vpaths, "\n", 1);
    }
    pthread_mutex_unlock(&g.lock);
    rc = parent ? 0 : -ENOENT;
    log_open("create", path, fi->flags, rc);
    if (rc) return rc;
    return attach_vfile(fi, &sp);
  }
  return -EACCES;
}

static int bm_release(const char* path, struct fuse_file_info* fi) {
  const char* rest;
  enum area a = area_of(path, &rest);
  if (a == V) free((void*)(uintptr_t)fi->fh);
  if (a == W) close((int)fi->fh);
  return 0;
}

static void sleep_ms(unsigned ms) {
  struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

static int is_healed(const char* name) {
  pthread_mutex_lock(&g.lock);
  int healed = text_has_line(&g.healed, name) || text_has_line(&g.healed, "*");
  pthread_mutex_unlock(&g.lock);
  return healed;
}

/* A read of a virtual file with the disc in. */
static int read_vfile(const char* path, const struct vfile* sp, char* buf, size_t size, uint64_t from) {
  if (sp->slow_ms) sleep_ms(sp->slow_ms);
  if (from >= sp->size || size == 0) return 0;
  uint64_t n = sp->size - from < size ? sp->size - from : size;
  uint64_t a = from, b = from + n - 1;
  if (sp->sector) { /* the whole sectors the read touches */
    a -= a % sp->sector;
    b = b / sp->sector < (sp->size - 1) / sp->sector ? b - b % sp->sector + sp->sector - 1 : sp->size - 1;
  }
  if ((sp->nbad || sp->nevery) && touches_bad(sp, a, b) && !is_healed(last_part(path))) {
    pthread_mutex_lock(&g.lock);
    ++g.fails;
    pthread_mutex_unlock(&g.lock);
    if (sp->stall_ms) sleep_ms(sp->stall_ms);
    return -EIO;
  }
  if (sp->from[0]) { /* the content of a file in the store, zeros past its end */
    char real[PATH_MAX];
    snprintf(real, sizeof real, "%s/%s", g.store, sp->from);
    memset(buf, 0, (size_t)n);
    int fd = open(real, O_RDONLY);
    if (fd < 0) return -EIO;
    ssize_t got = pread(fd, buf, (size_t)n, (off_t)from);
    close(fd);
    if (got < 0) return -EIO;
  } else {
    fill(buf, from, (size_t)n, sp->salt);
  }
  return (int)n;
}

static int bm_read(const char* path, char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
  const char* rest;
  switch (area_of(path, &rest)) {
    case V: {
      const int out = disc_out();
      const int rc = out ? -OUT_ERRNO : read_vfile(path, (const struct vfile*)(uintptr_t)fi->fh, buf, size, (uint64_t)off);
      pthread_mutex_lock(&g.lock);
      if (g.tracing) {
        char line[PATH_MAX + 80];
        int len = snprintf(line, sizeof line, "%llu %s %llu %zu %s\n", (unsigned long long)++g.trace_seq,
                           out ? "out" : rc < 0 ? "fail" : "ok", (unsigned long long)off, size, path);
        text_add(&g.trace, line, (size_t)len);
      }
      const int went_out = !out && g.out_after > 0 && --g.out_after == 0;
      if (went_out) {
        g.out = 1;
        g.out_after = -1;
      }
      pthread_mutex_unlock(&g.lock);
      if (went_out) forget_attributes();
      return rc;
    }
    case W: {
      ssize_t n = pread((int)fi->fh, buf, size, off);
      return n < 0 ? -errno : (int)n;
    }
    case CTL: {
      size_t n;
      ctl_slice(ctl_index(rest), (uint64_t)off, buf, size, &n);
      return (int)n;
    }
    default:
      return -EIO;
  }
}

static int bm_write(const char* path, const char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
  const char* rest;
  switch (area_of(path, &rest)) {
    case W: {
      pthread_mutex_lock(&g.lock);
      int fits = g.budget < 0 || (uint64_t)g.budget >= size;
      if (fits && g.budget >= 0) g.budget -= (int64_t)size;
      pthread_mutex_unlock(&g.lock);
      if (!fits) return -ENOSPC;
      ssize_t n = pwrite((int)fi->fh, buf, size, off);
      if (n < 0) return -errno;
      if ((size_t)n < size) { /* give back what was not written */
        pthread_mutex_lock(&g.lock);
        if (g.budget >= 0) g.budget += (int64_t)(size - (size_t)n);
        pthread_mutex_unlock(&g.lock);
      }
      return (int)n;
    }
    case CTL:
      return ctl_write(ctl_index(rest), buf, size);
    default:
      return -EACCES;
  }
}

static int bm_truncate(const char* path, off_t size, struct fuse_file_info* fi) {
  const char* rest;
  switch (area_of(path, &rest)) {
    case W: {
      char real[PATH_MAX];
      store_path(real, rest);
      int rc = fi ? ftruncate((int)fi->fh, size) : truncate(real, size);
      return rc == 0 ? 0 : -errno;
    }
    case CTL:
      if (ctl_index(rest) < 0) return -ENOENT;
      if (size == 0) ctl_truncate(ctl_index(rest));
      return 0;
    default:
      return -EACCES;
  }
}

/* Operations that only w/ allows; everything else is read-only. */
static int w_path(const char* path, char* real) {
  const char* rest;
  if (area_of(path, &rest) != W || !*rest) return 0;
  store_path(real, rest);
  return 1;
}

static int bm_unlink(const char* path) {
  char real[PATH_MAX];
  if (!w_path(path, real)) return -EACCES;
  return unlink(real) == 0 ? 0 : -errno;
}

static int bm_rmdir(const char* path) {
  char real[PATH_MAX];
  if (!w_path(path, real)) return -EACCES;
  return rmdir(real) == 0 ? 0 : -errno;
}

static int bm_rename(const char* from, const char* to, unsigned int flags) {
  char rf[PATH_MAX], rt[PATH_MAX];
  if (flags || !w_path(from, rf) || !w_path(to, rt)) return -EACCES;
  return rename(rf, rt) == 0 ? 0 : -errno;
}

static int bm_chmod(const char* path, mode_t mode, struct fuse_file_info* fi) {
  char real[PATH_MAX];
  if (!w_path(path, real)) return -EACCES;
  int rc = fi ? fchmod((int)fi->fh, mode) : chmod(real, mode);
  return rc == 0 ? 0 : -errno;
}

static int bm_utimens(const char* path, const struct timespec tv[2], struct fuse_file_info* fi) {
  char real[PATH_MAX];
  if (!w_path(path, real)) return -EACCES;
  int rc = fi ? futimens((int)fi->fh, tv) : utimensat(AT_FDCWD, real, tv, AT_SYMLINK_NOFOLLOW);
  return rc == 0 ? 0 : -errno;
}

static int bm_statfs(const char* path, struct statvfs* st) {
  (void)path;
  if (statvfs(g.store, st) != 0) return -errno;
  // A disc's volume: 2048-byte blocks (Wine then reports 2048 bytes a sector).
  if (st->f_frsize > 0 && st->f_frsize != 2048) {
    const uint64_t bytes = st->f_frsize;
    st->f_blocks = (fsblkcnt_t)((uint64_t)st->f_blocks * bytes / 2048);
    st->f_bfree = (fsblkcnt_t)((uint64_t)st->f_bfree * bytes / 2048);
    st->f_bavail = (fsblkcnt_t)((uint64_t)st->f_bavail * bytes / 2048);
  }
  st->f_bsize = st->f_frsize = 2048;
  pthread_mutex_lock(&g.lock);
  if (g.budget >= 0) {
    fsblkcnt_t blocks = (fsblkcnt_t)((uint64_t)g.budget / st->f_frsize);
    if (blocks < st->f_bavail) st->f_bavail = st->f_bfree = blocks;
  }
  pthread_mutex_unlock(&g.lock);
  return 0;
}

static int bm_fsync(const char* path, int datasync, struct fuse_file_info* fi) {
  const char* rest;
  if (area_of(path, &rest) != W || !fi) return 0;
  return (datasync ? fdatasync((int)fi->fh) : fsync((int)fi->fh)) == 0 ? 0 : -errno;
}

static const struct fuse_operations ops = {
    .init = bm_init,
    .getattr = bm_getattr,
    .readdir = bm_readdir,
    .opendir = bm_opendir,
    .readlink = bm_readlink,
    .mkdir = bm_mkdir,
    .unlink = bm_unlink,
    .rmdir = bm_rmdir,
    .rename = bm_rename,
    .chmod = bm_chmod,
    .truncate = bm_truncate,
    .utimens = bm_utimens,
    .open = bm_open,
    .create = bm_create,
    .read = bm_read,
    .write = bm_write,
    .statfs = bm_statfs,
    .release = bm_release,
    .fsync = bm_fsync,
};

static const struct fuse_opt opts[] = {{"--store=%s", 0, 0}, FUSE_OPT_END};

int main(int argc, char* argv[]) {
  struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
  if (fuse_opt_parse(&args, &g.store, opts, NULL) != 0) return 1;
  if (!g.store) {
    fprintf(stderr, "badmedia: usage: badmedia --store=DIR MOUNTPOINT [fuse options]\n");
    return 1;
  }
  char* real = realpath(g.store, NULL);
  if (!real) {
    fprintf(stderr, "badmedia: the store folder %s is missing\n", g.store);
    return 1;
  }
  g.store = real;
  /* One thread: a round trip costs half as much as with a pool of them. */
  fuse_opt_add_arg(&args, "-s");
  int rc = fuse_main(args.argc, args.argv, &ops, NULL);
  fuse_opt_free_args(&args);
  return rc;
}
