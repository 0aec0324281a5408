// The commands of the main window: their ids, menu texts, shortcuts and the numbered string that
// holds each one's status-bar prompt and tooltip ("prompt\ntooltip"), and the maker's addresses.
#pragma once

#include <QString>
#include <span>

namespace tessel::ui {

enum class Command : int {
  kOpenBdmv = 32781,
  kBatchAdd = 32782,
  kBuild = 32771,
  kExit = 57665,
  kM2tsTree = 32786,
  kMplsTree = 32787,
  kStatusBar = 59393,
  kScanTrackSize = 32783,
  kTotalDiscSize = 32784,
  kAbout = 57664,
  kWebSite = 32773,
  kForums = 32785,
  kSupportEmail = 32780,
  kPreview = 32778,
};

struct SCommandInfo {
  Command id;
  const char* text;      // menu or button text with its mnemonic
  const char* shortcut;  // empty for none
};

inline constexpr SCommandInfo kCommands[] = {
    {Command::kOpenBdmv, "Open BDMV", "Ctrl+O"},
    {Command::kBatchAdd, "Batch Add", ""},
    {Command::kBuild, "&Build", "Ctrl+B"},
    {Command::kExit, "E&xit", "Ctrl+Q"},
    {Command::kM2tsTree, "M2ts Tree", ""},
    {Command::kMplsTree, "Mpls Tree", ""},
    {Command::kStatusBar, "&Status Bar", ""},
    {Command::kScanTrackSize, "Scan track size", ""},
    {Command::kTotalDiscSize, "Total disc size", ""},
    {Command::kAbout, "&About", ""},
    {Command::kWebSite, "&WebSite...", ""},
    {Command::kForums, "Forums...", ""},
    {Command::kSupportEmail, "Support Email", ""},
    {Command::kPreview, "Preview", ""},
};

const SCommandInfo& CommandInfo(Command id);
// The text before "\n" of the command's string, and the text after it.
QString CommandPrompt(Command id);
QString CommandTooltip(Command id);

// The maker's pages and support address, opened with the system's default handler.
inline constexpr const char* kWebSiteUrl = "https://www.corvane.example/tessel/";
inline constexpr const char* kForumsUrl = "https://forums.corvane.example/tessel/";
inline constexpr const char* kSupportEmailUrl = "mailto:support@corvane.example?subject=Tessel";

}  // namespace tessel::ui
