// Runs the `tessel` executable of the build (TESSEL_EXE) as a process, with its output captured.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace tessel::test {

struct Outcome {
  int exit_code;
  std::string out;
  std::string err;
};

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// `arguments` go to the shell as they are.
inline Outcome RunTessel(const std::string& arguments) {
  const TempDir dir;
  const std::string command = std::string(TESSEL_EXE) + " " + arguments + " >" +
                              (dir / "out").string() + " 2>" + (dir / "err").string();
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(dir / "out"),
          ReadText(dir / "err")};
}

inline std::string Quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

}  // namespace tessel::test
