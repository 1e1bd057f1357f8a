// snapback's output file and the process it shares with the workers:
// making a file changes nothing the process holds for every thread (the
// umask), and a file that has taken its name keeps it after a crash (the
// folder is synced after the rename).
#include "snapback/output_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace {

std::atomic<int> g_umask_calls{0};
std::atomic<int> g_folder_syncs{0};

}  // namespace

// The code under test reaches these instead of the C library's: they count,
// then do what the library would.
extern "C" mode_t umask(mode_t mask) {
  ++g_umask_calls;
  return static_cast<mode_t>(syscall(SYS_umask, mask));
}

extern "C" int fsync(int fd) {
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) ++g_folder_syncs;
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace snapback {
namespace {

TEST(OutputFile, LeavesTheUmaskAloneAndSyncsTheFolder) {
  std::string dir = (std::filesystem::temp_directory_path() / "outputXXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string target = dir + "/t.lmp";
  const mode_t old = umask(027);
  g_umask_calls = 0;
  g_folder_syncs = 0;
  {
    OutputFile out;
    ASSERT_TRUE(out.Create(target));
    out.writer().Write("lump", 4);
    ASSERT_TRUE(out.Finish());
    ASSERT_TRUE(out.PutInPlace());
  }
  EXPECT_EQ(g_umask_calls, 0) << "the umask is the whole process's, workers included";
  EXPECT_GE(g_folder_syncs, 1);
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the permission bits of any new file";
  umask(old);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace snapback
