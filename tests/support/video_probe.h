// Runs ffprobe (the independent reader the video analyses are checked against) and returns its
// "flat" output as records of key/value pairs. Header-only so that only the video tests use it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tessel::test {

using ProbeRecord = std::map<std::string, std::string>;

inline bool HaveFfprobe() {
  return std::system("ffprobe -version >/dev/null 2>&1") == 0;
}

// Records of one section ("frame", "packet", "stream") in ffprobe's order.
inline std::vector<ProbeRecord> Ffprobe(const std::filesystem::path& file,
                                        const std::string& section, const std::string& keys) {
  const std::string command = "ffprobe -v error -select_streams v:0 -show_entries " + section +
                              "=" + keys + " -of flat '" + file.string() + "'";
  std::vector<ProbeRecord> records;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return records;
  char line[1024];
  const std::string prefix = section + "s." + section + ".";
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    if (text.rfind(prefix, 0) != 0) continue;
    text.erase(0, prefix.size());
    const size_t dot = text.find('.');
    const size_t eq = text.find('=');
    if (dot == std::string::npos || eq == std::string::npos || eq < dot) continue;
    const size_t index = std::stoul(text.substr(0, dot));
    std::string key = text.substr(dot + 1, eq - dot - 1);
    std::string value = text.substr(eq + 1);
    while (!value.empty() && (value.back() == '\n' || value.back() == '"')) value.pop_back();
    if (!value.empty() && value.front() == '"') value.erase(0, 1);
    if (records.size() <= index) records.resize(index + 1);
    records[index][key] = value;
  }
  pclose(pipe);
  return records;
}

}  // namespace tessel::test
