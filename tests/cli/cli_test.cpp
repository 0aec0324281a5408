#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

struct Result {
  int exit_code;
  std::string output;
};

Result RunTessel(const std::string& args) {
  const std::string command = std::string(TESSEL_EXE) + " " + args + " 2>&1";
  Result r{-1, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.output.append(buf.data(), n);
  const int status = pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(Cli, HelpAndVersion) {
  const Result help = RunTessel("--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("--yes"), std::string::npos);
  const Result version = RunTessel("--version");
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_NE(version.output.find("tessel "), std::string::npos);
}

TEST(Cli, UnknownOptionFailsWithExitCode2) {
  EXPECT_EQ(RunTessel("--no-such-option").exit_code, 2);
  EXPECT_EQ(RunTessel("--yes --no").exit_code, 2);
}

}  // namespace
