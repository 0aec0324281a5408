// Runs the `tessel` executable of the build (TESSEL_EXE) as a process, in an optional working
// folder, and keeps its exit code, standard output and standard error apart.
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
  int exit_code = -1;
  std::string out;
  std::string err;
};
using TesselRun = Outcome;

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string Quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

// `arguments` go to the shell as they are; standard input is empty.
inline Outcome RunTesselIn(const std::filesystem::path& folder, const std::string& arguments) {
  const TempDir dir;
  std::string command = std::string(TESSEL_EXE) + " " + arguments + " >" + Quoted(dir / "out") +
                        " 2>" + Quoted(dir / "err") + " </dev/null";
  if (!folder.empty()) command = "cd " + Quoted(folder) + " && " + command;
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(dir / "out"),
          ReadText(dir / "err")};
}

inline Outcome RunTessel(const std::string& arguments) {
  return RunTesselIn({}, arguments);
}

}  // namespace tessel::test
