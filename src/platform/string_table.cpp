#include "platform/string_table.h"

#include <algorithm>
#include <iterator>

namespace tessel {
namespace {

// Ordered by id. The texts are exact, trailing blanks included.
constexpr StringEntry kStrings[] = {
    // Main frame: toolbar, docking panes, view tabs, document template.
    {124, "Standard"},
    {125, "Customize..."},
    {128, "Tessel\n\nTessel\n\n\nTessel.Document\nTessel.Document"},
    {155, "Mpls Tree"},
    {156, "M2ts Tree"},
    {157, "Mpls View"},
    {158, "M2ts View"},
    // Progress titles.
    {1108, "Parsing"},
    {1110, "Demuxing"},
    {1136, "Muxing"},
    // Model names and messages.
    {1583, "FirstPlay"},
    {1584, "TopMenu"},
    {1634, "Graphic"},
    {1892, "can only be added as secondary track! "},
    {1901, "MainPath of Movie"},
    {5063, "Mpls(s)"},
    {5064, "M2ts(s)"},
    {5065, "Mpls"},
    {5066, "M2ts"},
    {5071, "Stream parse error:\n%s"},
    {5072, "has no corresponding mpls file! "},
    {5073, "has no corresponding clpi file ! "},
    {5075, "Primary video track count must be 1! "},
    {5076, "Primary audio track count cannot be more than 32! "},
    {5077, "PG track count cannot be more than 32, continue? "},
    {9055, "Related Mpls"},
    // List columns: track order lists.
    {9237, "Index"},
    {9238, "M2TS"},
    {9239, "PID"},
    {9240, "Description"},
    {9241, "Attribute"},
    // List columns: new tracks of a clip.
    {9242, "Primary"},
    {9243, "Filename"},
    {9244, "Codec"},
    {9245, "Attribute"},
    {9246, "Language"},
    {9247, "Delay(ms)"},
    {9248, "Duration"},
    {9249, "Size"},
    {9250, "Bitrate"},
    // List columns: playlists related to a clip.
    {9251, "Index"},
    {9252, "Mpls"},
    {9253, "Type"},
    {9254, "Duration"},
    {9255, "Playitems"},
    {9256, "PlayMarks"},
    {9257, "SubPaths"},
    {9258, "Used by"},
    // List columns: playlist marks.
    {9261, "Index"},
    {9262, "Type"},
    {9263, "PlayItem ID"},
    {9264, "In time"},
    {9265, "Entry ES PID"},
    {9266, "Duration"},
    // Build results (9440 + job result) and build messages.
    {9440, "Congratulations! Your BD build  is completed successfully!"},
    {9441, "Build is canceled !"},
    {9442, "Build error, please check your project file!"},
    {9452, "Stream has already been added ! "},
    {9461, "Start: %s, End: %s, Total: %s "},
    {9474, "Your output folder is the same as source folder ! "},
    // Command prompts (string id = command id): status-bar text, "\n", tooltip.
    {32771, "Build new BDMV\nBuild"},
    {32773, "Visit the Corvane website\nWebSite"},
    {32778, "Preview m2ts stream using external player\nPreview"},
    {32780, "Contact us and get technical support\nSupport Email"},
    {32781, "Open source BDMV folder\nOpen BDMV folder"},
    {32782, "Batch add tracks to m2ts using filename\nBatch add tracks"},
    {32783, "Scan track size\nScan"},
    {32784, "Compute total disc size, free space\nTotal disc size"},
    {32785, "Visit the Corvane forums\nForums"},
    {32786, "Show or hide the M2ts tree\nToggle M2ts Tree"},
    {32787, "Show or hide the Mpls tree\nToggle Mpls Tree"},
    {57664, "Display program information and version\nAbout"},
    {57665, "Quit the application\nExit"},
    {59393, "Show or hide the status bar\nToggle Status Bar"},
};

// Strictly increasing ids: sorted for the binary search, and no id twice.
static_assert(std::adjacent_find(std::begin(kStrings), std::end(kStrings),
                                 [](const StringEntry& a, const StringEntry& b) {
                                   return a.id >= b.id;
                                 }) == std::end(kStrings));

}  // namespace

const char* LoadString(int id) {
  const auto* it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                    [](const StringEntry& e, int v) { return e.id < v; });
  return (it != std::end(kStrings) && it->id == id) ? it->text : "";
}

std::span<const StringEntry> StringTable() {
  return kStrings;
}

}  // namespace tessel
