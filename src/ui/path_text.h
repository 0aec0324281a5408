// The one crossing between Qt's text and the model's 8-bit paths and texts. Paths go through the
// file system's own encoding, so folders named with any letters open and show as they are.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tessel::ui {

QString PathToQt(const std::string& path);
std::string PathFromQt(const QString& path);

// A display text of the core (labels, sizes, times, names).
QString TextToQt(std::string_view text);

}  // namespace tessel::ui
