// Runs killed at arbitrary instants: the archive must always open, and what
// it lists must be the old entries or the new files, each bit-exact.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "reliability_support.h"
#include "xkrf_archive.h"
#include "xkrf_run.h"

namespace xkrf_test {
namespace {

using e2e::ScratchDir;

// Starts the tool with its output discarded, kills it with SIGKILL after
// `delay` (or lets it finish if it is faster), and reaps it.
void RunAndKill(const std::vector<std::string>& args, const std::string& cwd,
                std::chrono::microseconds delay) {
  const pid_t pid = e2e::Spawn(XKRF_BIN, args, cwd, -1, -1);
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(delay);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

using Contents = std::map<std::string, Bytes>;

// The archive at `path` opens, holds every old name that may not vanish, and
// every live entry is an old or a new file, bit-exact, each name once.
void ExpectConsistent(const std::string& path, const Contents& old_files, const Contents& new_files,
                      const std::set<std::string>& may_vanish) {
  Archive archive;
  std::string why;
  ASSERT_TRUE(ParseArchive(e2e::ReadFile(path), &archive, &why)) << why;
  std::set<std::string> live;
  for (const Entry& e : archive.entries) {
    if ((e.type & kLive) == 0) continue;
    EXPECT_TRUE(live.insert(e.name).second) << e.name << " twice";
    const Bytes content = archive.Content(e);
    const auto old_it = old_files.find(e.name);
    const auto new_it = new_files.find(e.name);
    const bool is_old = old_it != old_files.end() && old_it->second == content &&
                        e.raw_len == static_cast<int32_t>(content.size());
    const bool is_new = new_it != new_files.end() && new_it->second == content &&
                        e.raw_len == static_cast<int32_t>(content.size());
    EXPECT_TRUE(is_old || is_new) << e.name << ": content of neither the old nor the new file";
  }
  for (const auto& [name, content] : old_files) {
    if (may_vanish.count(name) == 0) {
      EXPECT_EQ(live.count(name), 1u) << name << " lost";
    }
  }
}

Crafted Stored(const std::string& name, const Bytes& content) {
  return {name, kLive | kRle, EncodeRle(content), static_cast<int32_t>(content.size())};
}

TEST(XkrfCrash, KilledRunsLeaveAConsistentArchive) {
  const Contents old_files = {{"a.bin", reliability::Sample(300000, 1, true)},
                              {"keep.dat", reliability::Sample(200000, 2, true)}};
  const Contents new_files = {
      {"a.bin", reliability::Sample(100000, 3, true)},  // replaces the old entry
      {"b.bin", reliability::Sample(900000, 4, true)},
      {"c.bin", reliability::Sample(700000, 5, true)}};
  const struct {
    std::string what;
    std::vector<std::string> args;
    std::set<std::string> may_vanish;
  } runs[] = {
      {"add with replacement", {"data", "*.bin"}, {}},
      {"delete", {"data", "a.bin", "-del"}, {"a.bin"}},
  };
  for (const auto& run : runs) {
    for (const int delay_us : {0, 1000, 2000, 3000, 5000, 8000, 12000, 20000, 40000}) {
      SCOPED_TRACE(run.what + ", killed after " + std::to_string(delay_us) + " us");
      ScratchDir dir;
      std::vector<Crafted> entries;
      for (const auto& [name, content] : old_files) entries.push_back(Stored(name, content));
      e2e::WriteFile(dir / "data.krf", BuildArchive(entries));
      for (const auto& [name, content] : new_files) e2e::WriteFile(dir / name, content);

      RunAndKill(run.args, dir.path(), std::chrono::microseconds(delay_us));
      ExpectConsistent(dir / "data.krf", old_files, new_files, run.may_vanish);
      // The tool itself still opens what was left.
      EXPECT_EQ(Xkrf({"data", "-list"}, dir.path()).exit_code, 0);
    }
  }
}

}  // namespace
}  // namespace xkrf_test
#else
#include "e2e_support.h"

namespace xkrf_test {
namespace {

TEST(XkrfCrash, KilledRunsLeaveAConsistentArchive) { E2E_WINDOWS_LACKS("fork and SIGKILL"); }

}  // namespace
}  // namespace xkrf_test
#endif
