// The fixed texts of an xkrf run, so each test can spell out a complete,
// byte-exact transcript, and the call that runs the built tool.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace xkrf_test {

inline const std::string kBanner =
    "XKRF the ultimate KelResourceFile managing Utility " + e2e::kEditionNotice + "\n\n";
inline constexpr char kChecking[] = "Checking commandline arguments: ";
inline constexpr char kClosing[] =
    "\nThank's for using XKRF !\n"
    "Visit https://krftools.example.org/ for news and updates.\n"
    "Write to krftools@example.org with bugs and wishes.\n";
inline constexpr char kFatal[] = "Fatal Read/Write error !\n";
inline constexpr char kUpdating[] = "Updating files......\n";
inline constexpr char kListHead[] =
    "Filename                               Size      Encode      Packed     Saved\n"
    "-----------------------------------------------------------------------------\n";
inline constexpr int kPageRows = 22;
inline constexpr char kTempName[] = "xkrf1308.$$$";

inline e2e::RunResult Xkrf(const std::vector<std::string>& args, const std::string& cwd) {
  return e2e::Run(XKRF_BIN, args, cwd);
}

// Banner, echoed switches and the summary lines that open every run that got
// past the command line.
inline std::string Summary(const std::string& echo, const std::string& archive,
                           const std::string& mask, const std::string& mask_path = "") {
  return std::string(kBanner) + kChecking + echo + "\nKRF-File: " + archive +
         "\nFile-Mask: " + mask + " (mask-path: '" + mask_path + "') \n";
}

inline std::string Creating(const std::string& archive) {
  return "creating '" + archive + "'...\nActual KRF contains 0 entries.\n";
}

inline std::string Contains(int entries) {
  return "Actual KRF contains " + std::to_string(entries) + " entries.\n";
}

// The mask as the tool shows it: lower-cased, '/' taken as '\\'.
inline std::string ShownMask(std::string mask) {
  for (char& ch : mask) {
    if (ch == '/') ch = '\\';
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return mask;
}

// The lines that end every successful run.
inline std::string Finish(int progressed) {
  return "finished...\nUh, we progressed " + std::to_string(progressed) + " files...\n" + kClosing;
}

inline std::string Adding(const std::string& shown, bool rle = true) {
  return "adding '" + shown + "'" + (rle ? ", encoding RLE..." : "") + "\n";
}

inline std::string Extracting(const std::string& name) { return "extracting " + name + "...\n"; }

// The lines of a deletion, one per entry deleted.
inline std::string Deleting(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += "deleting " + name + "...\n";
  return out;
}

// A whole run: exit status, every byte of standard output, and nothing on
// standard error (the tool prints everything, errors included, to stdout).
inline void ExpectTranscript(const e2e::RunResult& r, int exit_code, const std::string& out) {
  EXPECT_EQ(r.exit_code, exit_code);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, "");
}

// The names in directory `path`, sorted.
inline std::vector<std::string> DirNames(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The modification time of `path` (seconds and nanoseconds), for
// comparisons between two moments of one file.
inline std::pair<long, long> FileTime(const std::string& path) {
  std::error_code ec;
  const auto since = std::filesystem::last_write_time(path, ec).time_since_epoch();
  EXPECT_FALSE(ec) << path;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
  return {static_cast<long>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace xkrf_test
