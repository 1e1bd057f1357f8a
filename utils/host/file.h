// Checked file access on top of C runtime descriptors (on Windows, each
// wraps a file handle that the host layer uses directly). Every call reports
// failure through its result (with errno left as the system set it); callers
// decide which message a failure deserves. A full disk never goes unnoticed:
// writes loop until every byte is written or an error occurs.
#pragma once

#include <cerrno>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// errno of an Open that found something other than a regular file.
inline constexpr int kNotRegularFile = ENODEV;
// errno of a file that another program holds open and will not share (a
// sharing violation on Windows).
inline constexpr int kInUse = ETXTBSY;

// The reason for an errno value as the tools print it.
std::string ErrorText(int error);

// What makes a file the same file under every name it has: two paths with
// equal ids lead to one file, however they are spelled.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  friend auto operator<=>(const FileId&, const FileId&) = default;
};

// The id of the file `path` leads to, symbolic links followed; false (errno
// set) when it leads nowhere.
bool IdentifyFile(const std::string& path, FileId* id);

class File {
 public:
  enum class Mode {
    kRead,             // existing file, read only
    kReadListed,       // like kRead, for a name a listing reported as a file
    kReadWrite,        // existing file, read and write, never created
    kCreateTruncate,   // create or empty, write only
    kCreateExclusive,  // create a new file, read and write; fails if it exists
  };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens only regular files, and never blocks: a directory fails with
  // errno EISDIR, anything else that is not a regular file (a FIFO, a
  // socket, a device) with kNotRegularFile.
  bool Open(const std::string& path, Mode mode);
  // Takes ownership of an open descriptor.
  void Adopt(int fd);
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Reads up to `n` bytes at `offset`; `*got` receives the count read, which
  // is short only at the end of the file.
  bool ReadAt(int64_t offset, void* buf, size_t n, size_t* got) const;
  // True only when exactly `n` bytes were read.
  bool ReadExactAt(int64_t offset, void* buf, size_t n) const;
  bool WriteAt(int64_t offset, const void* buf, size_t n);
  // Sequential write at the descriptor's own position.
  bool Write(const void* buf, size_t n);

  int64_t Size() const;  // -1 on failure
  bool Sync();           // data (and the metadata needed to read it) on disk
  bool Truncate(int64_t length);

  // Advisory whole-file lock, released by Close or the destructor.
  bool Lock(bool exclusive, bool wait);

  // True when `path` names the very file this object has open (same device
  // and inode); false when the name now leads elsewhere or nowhere.
  bool IsAt(const std::string& path) const;
  bool Identity(uint64_t* device, uint64_t* inode) const;

  // Closes and reports whether the close succeeded.
  bool Close();

 private:
  int fd_ = -1;
};

// Writes through a fixed buffer so that callers may emit one byte at a time
// without one system call per byte. The first failure sticks: later writes
// are ignored and Flush() keeps returning false.
class BufferedWriter {
 public:
  explicit BufferedWriter(File* file, size_t capacity = 1 << 16);
  ~BufferedWriter() = default;

  void Put(uint8_t byte) {
    if (used_ == buffer_.size()) FlushBuffer();
    buffer_[used_++] = byte;
  }
  void Write(const void* data, size_t n);
  bool Flush();
  bool ok() const { return ok_; }
  int64_t written() const { return written_ + static_cast<int64_t>(used_); }

 private:
  void FlushBuffer();

  File* file_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  int64_t written_ = 0;
  bool ok_ = true;
};

// Creates `path` holding `content`, exclusively locked and open for reading
// and writing in `*file`. The name appears only with its content complete, so
// no other process ever sees a partial file under it. Never replaces an
// existing file: fails with errno EEXIST instead.
bool CreateNewFile(const std::string& path, const void* content, size_t n, File* file);

// Creates a new file named `prefix` and a unique ending, open for reading
// and writing in `*file`, with the permission bits any new file gets;
// `*path` receives its name. Never replaces an existing file.
bool CreateUniqueFile(const std::string& prefix, File* file, std::string* path);

// Removes the name `path` (a file, or a link itself).
bool RemoveFile(const std::string& path);

// Renames `from` over `to` in one step, replacing what `to` names; the
// rename is on disk when this returns true.
bool RenameOver(const std::string& from, const std::string& to);

// Reads the whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out);

// Creates one directory level; false when it cannot be made (it exists
// already, or its parent is missing).
bool MakeDirectory(const std::string& path);

bool IsDirectory(const std::string& path);
bool IsSymbolicLink(const std::string& path);

// The file `path` leads to, symbolic links followed (an absolute path), or
// `path` itself when that cannot be worked out.
std::string FileBehind(const std::string& path);

// The directory part of a host path, with its final '/', or "" when the path
// has none.
std::string HostDirName(const std::string& path);

// Why `name` cannot be one level of a path on this system, or "" when it
// can. Separators, "." and ".." are the callers' concern. On Windows: the
// reserved device names (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or
// without an extension), the characters <>:"|?* and control characters (a
// ':' would reach an alternate data stream), and a final dot or space.
std::string UnusableName(std::string_view name);

}  // namespace host
