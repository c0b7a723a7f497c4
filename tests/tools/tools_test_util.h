// Helpers for the companion program tests: scratch directories, files, and
// running a program with its output captured.
#ifndef QUIVREL_TESTS_TOOLS_UTIL_H
#define QUIVREL_TESTS_TOOLS_UTIL_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace tooltest {

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A fresh directory per test, named after it.
inline std::string scratch_dir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string dir = std::string(QUIVREL_TOOLS_TEST_TMP) + "/" + info->test_suite_name() + "." + info->name();
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  return dir;
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs `args` (already shell-quoted where needed) in `dir`.
inline Outcome run(const std::string& dir, const std::string& program, const std::string& args,
               const std::string& stdin_text = "") {
  const std::string in = dir + "/.stdin", out = dir + "/.stdout", err = dir + "/.stderr";
  write_file(in, stdin_text);
  const std::string cmd = "cd '" + dir + "' && '" + program + "' " + args + " <'" + in + "' >'" + out +
                          "' 2>'" + err + "'";
  const int raw = std::system(cmd.c_str());
  Outcome r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

inline Outcome convert(const std::string& dir, const std::string& args, const std::string& stdin_text = "") {
  return run(dir, QUIVREL_CONVERT_BIN, args, stdin_text);
}

// Files in `dir` other than the helper's own.
inline std::string listing(const std::string& dir) {
  return run(dir, "/bin/sh", "-c 'ls | sort | tr \"\\n\" \" \"'").out;
}

}  // namespace tooltest

#endif
