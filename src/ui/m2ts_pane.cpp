#include "ui/m2ts_pane.h"

#include <QDesktopServices>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/format.h"
#include "platform/prompt.h"
#include "ui/commands.h"
#include "ui/path_text.h"

namespace tessel::ui {

CM2tsPane::CM2tsPane(QWidget* parent)
    : CTreePane(new CM2tsTreeModel(), parent), toolbar_(new QToolBar(this)) {
  preview_ = toolbar_->addAction(style()->standardIcon(QStyle::SP_MediaPlay),
                                 CommandInfo(Command::kPreview).text);
  preview_->setStatusTip(CommandPrompt(Command::kPreview));
  preview_->setToolTip(CommandTooltip(Command::kPreview));
  toolbar_->setIconSize(QSize(16, 16));
  connect(preview_, &QAction::triggered, this, &CM2tsPane::Preview);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(1, 0, 1, 1);
  layout->setSpacing(0);
  layout->addWidget(toolbar_);
  layout->addWidget(tree());
}

void CM2tsPane::Fill(const CBDDisc* disc) {
  model()->SetDisc(disc);
  ShowFilled({model()->RootIndex(), model()->GroupIndex()});
}

void CM2tsPane::Preview() {
  const auto* clip = dynamic_cast<const CClpiObject*>(SelectedObject());
  if (clip == nullptr) return;
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(PathToQt(clip->stream_path)))) {
    ShowMessage(
        Format("%s\r\n%s", clip->stream_path.c_str(), "No program is set to open this file. "),
        PromptIcon::kWarning);
  }
}

}  // namespace tessel::ui
