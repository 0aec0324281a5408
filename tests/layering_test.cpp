// The layers of src/ and what each may use: an include names only its own layer or one below it
// (platform <- formats <- ts <- es <- mux <- model <- cli, ui), the core layers include no
// library headers but the standard ones (model also the JSON library), and each library's
// CMakeLists links exactly the layers its sources use, directly or through what it links.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Layer {
  const char* name;
  int rank;  // a layer may include layers of a lower rank, and its own
  bool core;
};

constexpr Layer kLayers[] = {
    {"platform", 0, true}, {"formats", 1, true}, {"ts", 2, true},   {"es", 3, true},
    {"mux", 4, true},      {"model", 5, true},   {"cli", 6, false}, {"ui", 6, false},
};

// Library headers a core layer may include besides the standard ones.
const std::map<std::string, std::vector<std::string>> kCoreLibraryHeaders = {
    {"model", {"nlohmann/"}},
};
// Header prefixes that name a library other than the standard one and the system's.
const std::vector<std::string> kLibraryPrefixes = {"Q", "CLI/", "nlohmann/", "gtest/", "gmock/"};

// Dependencies that layers still being filled in list before their sources use them.
const std::map<std::string, std::set<std::string>> kLinkedAhead = {
    {"mux", {"ts", "es"}},
    {"model", {"ts", "es"}},
};

const Layer* FindLayer(const std::string& name) {
  for (const Layer& layer : kLayers) {
    if (name == layer.name) return &layer;
  }
  return nullptr;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct LayerUse {
  std::set<std::string> included;  // other layers its sources include
  std::set<std::string> linked;    // other layers its CMakeLists names
};

// What is wrong with the tree under `src`, one line per finding; `uses` receives each layer's.
std::vector<std::string> CheckIncludes(const fs::path& src, std::map<std::string, LayerUse>& uses) {
  static const std::regex kQuoted(R"(^\s*#\s*include\s*"(\w+)/)");
  static const std::regex kAngled(R"(^\s*#\s*include\s*<([^>]+)>)");
  std::vector<std::string> findings;
  for (const Layer& layer : kLayers) {
    const fs::path dir = src / layer.name;
    if (!fs::is_directory(dir)) continue;
    LayerUse& use = uses[layer.name];
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp") continue;
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = entry.path().filename().string() + ":" + std::to_string(number);
        std::smatch m;
        if (std::regex_search(line, m, kQuoted)) {
          const Layer* target = FindLayer(m[1]);
          if (!target) continue;
          if (target != &layer) use.included.insert(target->name);
          if (target->rank > layer.rank || (target->rank == layer.rank && target != &layer)) {
            findings.push_back(std::string(layer.name) + "/" + where + " includes " + target->name +
                               ", which is not below it");
          }
        } else if (layer.core && std::regex_search(line, m, kAngled)) {
          const std::string header = m[1];
          const auto allowed = kCoreLibraryHeaders.find(layer.name);
          const auto starts = [&header](const std::string& p) { return header.starts_with(p); };
          if (std::any_of(kLibraryPrefixes.begin(), kLibraryPrefixes.end(), starts) &&
              !(allowed != kCoreLibraryHeaders.end() &&
                std::any_of(allowed->second.begin(), allowed->second.end(), starts))) {
            findings.push_back(std::string(layer.name) + "/" + where + " includes <" + header +
                               ">, a library the core does not use");
          }
        }
      }
    }
  }
  return findings;
}

std::vector<std::string> CheckLinks(const fs::path& src, std::map<std::string, LayerUse>& uses) {
  static const std::regex kTarget(R"(tessel_(\w+))");
  std::vector<std::string> findings;
  for (auto& [name, use] : uses) {
    const std::string text = ReadText(src / name / "CMakeLists.txt");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kTarget);
         it != std::sregex_iterator(); ++it) {
      const std::string target = (*it)[1];
      if (target != name && FindLayer(target)) use.linked.insert(target);
    }
  }
  for (const auto& [name, use] : uses) {
    const auto ahead = kLinkedAhead.find(name);
    for (const std::string& linked : use.linked) {
      if (!use.included.count(linked) &&
          !(ahead != kLinkedAhead.end() && ahead->second.count(linked))) {
        findings.push_back(name + " links tessel_" + linked + " but includes nothing of it");
      }
    }
    // What the linked layers bring along, transitively.
    std::set<std::string> reach = use.linked;
    for (bool grew = true; grew;) {
      grew = false;
      for (const std::string& r : std::set<std::string>(reach)) {
        const auto found = uses.find(r);
        if (found == uses.end()) continue;
        for (const std::string& next : found->second.linked) grew |= reach.insert(next).second;
      }
    }
    for (const std::string& included : use.included) {
      if (!reach.count(included)) {
        findings.push_back(name + " includes " + included + " but does not link tessel_" +
                           included);
      }
    }
  }
  return findings;
}

std::vector<std::string> CheckTree(const fs::path& src) {
  std::map<std::string, LayerUse> uses;
  std::vector<std::string> findings = CheckIncludes(src, uses);
  const std::vector<std::string> links = CheckLinks(src, uses);
  findings.insert(findings.end(), links.begin(), links.end());
  return findings;
}

std::string Lines(const std::vector<std::string>& findings) {
  std::string text;
  for (const std::string& f : findings) text += f + "\n";
  return text;
}

TEST(Layering, SourceTreeKeepsTheLayerOrderAndLinksWhatItUses) {
  ASSERT_TRUE(fs::is_directory("src/platform")) << "run from the repository's root";
  const std::vector<std::string> findings = CheckTree("src");
  EXPECT_TRUE(findings.empty()) << Lines(findings);
}

// A small tree with one fault of each kind: every one is found, and a sound tree passes.
TEST(Layering, FindsEachKindOfFault) {
  const fs::path root = fs::temp_directory_path() / "tessel_layering_test";
  fs::remove_all(root);
  const auto write = [&root](const std::string& file, const std::string& text) {
    fs::create_directories((root / file).parent_path());
    std::ofstream(root / file) << text;
  };
  write("platform/CMakeLists.txt", "tessel_layer(platform)\n");
  write("platform/a.h", "#include <vector>\n#include <sys/stat.h>\n");
  write("formats/CMakeLists.txt", "tessel_layer(formats DEPENDS tessel_platform)\n");
  write("formats/b.h", "#include \"platform/a.h\"\n");
  write("ts/CMakeLists.txt", "tessel_layer(ts DEPENDS tessel_formats)\n");
  write("ts/c.cpp", "#include \"formats/b.h\"\n#include \"platform/a.h\"\n");
  EXPECT_EQ(Lines(CheckTree(root)), "") << "a sound tree";

  write("formats/d.cpp", "#include \"ts/c.h\"\n");                     // wrong way
  write("ts/e.h", "#include <QtWidgets/QWidget>\n");                   // a library in the core
  write("es/CMakeLists.txt", "tessel_layer(es DEPENDS tessel_ts)\n");  // links what it never uses
  write("es/f.cpp", "#include <vector>\n");
  write("mux/CMakeLists.txt", "tessel_layer(mux DEPENDS tessel_formats)\n");
  write("mux/g.cpp", "#include \"es/f.h\"\n");  // uses what it does not link
  const std::string found = Lines(CheckTree(root));
  for (const char* finding :
       {"formats/d.cpp:1 includes ts, which is not below it",
        "ts/e.h:1 includes <QtWidgets/QWidget>, a library the core does not use",
        "es links tessel_ts but includes nothing of it",
        "mux includes es but does not link tessel_es"}) {
    EXPECT_NE(found.find(finding), std::string::npos) << finding << "\n" << found;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace tessel
