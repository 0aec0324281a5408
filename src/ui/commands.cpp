#include "ui/commands.h"

#include <algorithm>
#include <iterator>

#include "platform/string_table.h"
#include "ui/path_text.h"

namespace tessel::ui {
namespace {

QString PromptPart(Command id, bool tooltip) {
  const QString text = TextToQt(LoadString(static_cast<int>(id)));
  const qsizetype split = text.indexOf(QLatin1Char('\n'));
  if (split < 0) return tooltip ? QString() : text;
  return tooltip ? text.mid(split + 1) : text.left(split);
}

}  // namespace

const SCommandInfo& CommandInfo(Command id) {
  const auto* it = std::find_if(std::begin(kCommands), std::end(kCommands),
                                [id](const SCommandInfo& info) { return info.id == id; });
  return it != std::end(kCommands) ? *it : kCommands[0];
}

QString CommandPrompt(Command id) {
  return PromptPart(id, false);
}

QString CommandTooltip(Command id) {
  return PromptPart(id, true);
}

}  // namespace tessel::ui
