#include "ui/mpls_pane.h"

#include <QVBoxLayout>

namespace tessel::ui {

CMplsPane::CMplsPane(QWidget* parent) : CTreePane(new CMplsTreeModel(), parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->addWidget(tree());
}

void CMplsPane::Fill(const CBDDisc* disc) {
  model()->SetDisc(disc);
  ShowFilled({model()->RootIndex()});
}

}  // namespace tessel::ui
