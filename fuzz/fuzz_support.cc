#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <streambuf>

namespace krffuzz {

namespace {

std::string g_root;  // the scratch folder, as the kernel spells it; "" until armed
bool g_deny_only = false;
unsigned long g_denied = 0;

std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string DirectoryOf(int dirfd) {
  char buf[4096];
  if (dirfd == AT_FDCWD) return getcwd(buf, sizeof buf) ? buf : "";
  const std::string link = "/proc/self/fd/" + std::to_string(dirfd);
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

// True when the change may go ahead: the guard is not armed yet, or `path`
// (relative to `dirfd`) lies in the scratch folder. Otherwise the attempt is
// a finding, or, with KRF_FUZZ_ESCAPES=deny, refused with EACCES.
bool Allowed(const char* op, int dirfd, const char* path) {
  if (g_root.empty() || path == nullptr) return true;
  const std::string where =
      Normalize(path[0] == '/' ? std::string(path) : DirectoryOf(dirfd) + "/" + path);
  if (where == g_root || where.compare(0, g_root.size() + 1, g_root + "/") == 0) return true;
  const std::string what =
      std::string(op) + " reaches outside the scratch folder: '" + path + "' is " + where;
  if (!g_deny_only) Finding(what);
  if (g_denied++ < 20) std::fprintf(stderr, "denied: %s\n", what.c_str());
  errno = EACCES;
  return false;
}

bool Changes(int flags) {
  return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0 ||
         (flags & O_TMPFILE) == O_TMPFILE;
}

mode_t ModeArgument(int flags, va_list ap) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE
             ? static_cast<mode_t>(va_arg(ap, int))
             : 0;
}

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

int RemoveTree(int dirfd, const std::vector<std::string>& keep) {
  const int copy = dup(dirfd);
  DIR* d = fdopendir(copy);
  if (d == nullptr) {
    close(copy);
    return -1;
  }
  std::vector<std::string> names;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool kept = false;
    for (const std::string& k : keep) kept = kept || k == name;
    if (!kept) names.push_back(name);
  }
  closedir(d);
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const int sub = openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      if (sub >= 0) {
        RemoveTree(sub, {});
        close(sub);
      }
      unlinkat(dirfd, name.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(dirfd, name.c_str(), 0);
    }
  }
  return 0;
}

// libFuzzer's flags whose value is a path.
bool PathFlag(const std::string& name) {
  for (const char* flag :
       {"artifact_prefix", "exact_artifact_path", "dict", "merge_control_file", "features_dir"}) {
    if (name == flag) return true;
  }
  return false;
}

void AbsolutePaths(int* argc, char*** argv) {
  const std::string cwd = DirectoryOf(AT_FDCWD);
  // The new argument vector lives as long as the process, as libFuzzer expects.
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc + 1);
  for (int i = 1; i < *argc; ++i) {
    const std::string arg = args[i];
    std::string fixed;
    if (!arg.empty() && arg[0] != '-' && arg[0] != '/') {
      fixed = cwd + "/" + arg;
    } else if (arg.size() > 1 && arg[0] == '-' && arg.find('=') != std::string::npos) {
      const size_t eq = arg.find('=');
      const std::string value = arg.substr(eq + 1);
      if (PathFlag(arg.substr(1, eq - 1)) && !value.empty() && value[0] != '/') {
        fixed = arg.substr(0, eq + 1) + cwd + "/" + value;
      }
    }
    if (!fixed.empty()) args[i] = strdup(fixed.c_str());
  }
  *argv = args.data();
}

}  // namespace

void EnterScratch(int* argc, char*** argv) {
  AbsolutePaths(argc, argv);
  const char* tmp = std::getenv("TMPDIR");
  std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp ? tmp : "/tmp");
  std::string tmpl = base + "/krffuzz-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr || chdir(tmpl.c_str()) != 0) {
    Finding("cannot make a scratch folder under " + base);
  }
  g_root = Normalize(DirectoryOf(AT_FDCWD));
  g_deny_only = std::getenv("KRF_FUZZ_ESCAPES") != nullptr &&
                std::strcmp(std::getenv("KRF_FUZZ_ESCAPES"), "deny") == 0;
  const int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd >= 0) {
    dup2(null_fd, STDIN_FILENO);
    close(null_fd);
  }
  // The folder is removed at exit; a crash leaves it for inspection.
  std::atexit([] {
    if (chdir("/") == 0) {
      const int fd = open(g_root.c_str(), O_RDONLY | O_DIRECTORY);
      if (fd >= 0) {
        RemoveTree(fd, {});
        close(fd);
      }
      rmdir(g_root.c_str());
    }
  });
}

void ClearScratch(const std::vector<std::string>& keep) {
  const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Finding("cannot open the scratch folder");
  RemoveTree(fd, keep);
  close(fd);
}

void WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Finding("cannot create the input file " + name);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) Finding("cannot write the input file " + name);
    done += static_cast<size_t>(n);
  }
  close(fd);
}

void WritePalette() {
  std::vector<uint8_t> palette(768);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i * 7);
  WriteInput("palette.lmp", palette.data(), palette.size());
}

bool ReadBack(const std::string& name, std::vector<uint8_t>* out) {
  out->clear();
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out->insert(out->end(), buf, buf + n);
  close(fd);
  return n == 0;
}

std::FILE* NullFile() {
  static std::FILE* const file = std::fopen("/dev/null", "w");
  return file;
}

std::ostream& NullStream() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

void Finding(const std::string& what) {
  std::fprintf(stderr, "\n==== finding: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace krffuzz

// The write guard: the fuzz targets are linked with --wrap for each call
// below, so every call the tools make goes through a check of its path.
extern "C" {

int __real_open(const char* path, int flags, ...);
int __real_openat(int dirfd, const char* path, int flags, ...);
int __real_mkdir(const char* path, mode_t mode);
int __real_mkdirat(int dirfd, const char* path, mode_t mode);
int __real_unlinkat(int dirfd, const char* path, int flags);
int __real_rename(const char* from, const char* to);
int __real_linkat(int from_dirfd, const char* from, int to_dirfd, const char* to, int flags);
int __real_remove(const char* path);

int __wrap_open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = krffuzz::ModeArgument(flags, ap);
  va_end(ap);
  if (krffuzz::Changes(flags) && !krffuzz::Allowed("open", AT_FDCWD, path)) return -1;
  return __real_open(path, flags, mode);
}

int __wrap_openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = krffuzz::ModeArgument(flags, ap);
  va_end(ap);
  if (krffuzz::Changes(flags) && !krffuzz::Allowed("openat", dirfd, path)) return -1;
  return __real_openat(dirfd, path, flags, mode);
}

int __wrap_mkdir(const char* path, mode_t mode) {
  if (!krffuzz::Allowed("mkdir", AT_FDCWD, path)) return -1;
  return __real_mkdir(path, mode);
}

int __wrap_mkdirat(int dirfd, const char* path, mode_t mode) {
  if (!krffuzz::Allowed("mkdirat", dirfd, path)) return -1;
  return __real_mkdirat(dirfd, path, mode);
}

int __wrap_unlinkat(int dirfd, const char* path, int flags) {
  if (!krffuzz::Allowed("unlinkat", dirfd, path)) return -1;
  return __real_unlinkat(dirfd, path, flags);
}

int __wrap_rename(const char* from, const char* to) {
  if (!krffuzz::Allowed("rename", AT_FDCWD, from) || !krffuzz::Allowed("rename", AT_FDCWD, to)) {
    return -1;
  }
  return __real_rename(from, to);
}

int __wrap_linkat(int from_dirfd, const char* from, int to_dirfd, const char* to, int flags) {
  if (!krffuzz::Allowed("linkat", to_dirfd, to)) return -1;
  return __real_linkat(from_dirfd, from, to_dirfd, to, flags);
}

int __wrap_remove(const char* path) {
  if (!krffuzz::Allowed("remove", AT_FDCWD, path)) return -1;
  return __real_remove(path);
}

}  // extern "C"
