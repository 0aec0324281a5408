// The message-box prompt: texts, icons, buttons and answers.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "ui/message_prompt.h"
#include "ui_fixture.h"

namespace tessel::test {
namespace {

using ui::CMessageBoxPrompt;

struct SBoxCase {
  const char* name;
  PromptButtons buttons;
  PromptIcon icon;
  QMessageBox::StandardButtons expected_buttons;
  QMessageBox::Icon expected_icon;
  QMessageBox::StandardButton clicked;
  PromptAnswer answer;
};

const SBoxCase kBoxCases[] = {
    {"ok", PromptButtons::kOk, PromptIcon::kInformation, QMessageBox::Ok, QMessageBox::Information,
     QMessageBox::Ok, PromptAnswer::kOk},
    {"yes-no", PromptButtons::kYesNo, PromptIcon::kQuestion, QMessageBox::Yes | QMessageBox::No,
     QMessageBox::Question, QMessageBox::No, PromptAnswer::kNo},
    {"yes-no-cancel", PromptButtons::kYesNoCancel, PromptIcon::kWarning,
     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Warning,
     QMessageBox::Yes, PromptAnswer::kYes},
    {"ok-cancel", PromptButtons::kOkCancel, PromptIcon::kError,
     QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Critical, QMessageBox::Cancel,
     PromptAnswer::kCancel},
};

class CPromptTest : public QObject {
  Q_OBJECT

 private slots:
  void textKeepsBlanksAndJoinsLineBreaks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("blank") << "Demux is completed! "
                           << "Demux is completed! ";
    QTest::newRow("crlf") << "a/b.m2ts\r\nStream has already been added ! "
                          << "a/b.m2ts\nStream has already been added ! ";
    QTest::newRow("lfcr") << "a/b.m2ts\n\rDemux is completed! "
                          << "a/b.m2ts\nDemux is completed! ";
    QTest::newRow("lf") << "one\ntwo"
                        << "one\ntwo";
  }

  void textKeepsBlanksAndJoinsLineBreaks() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(ui::PromptText(text.toStdString()), shown);
  }

  void boxesMatchTheRequest() {
    QWidget window;
    window.show();
    CMessageBoxPrompt prompt;
    prompt.set_window(&window);
    for (const SBoxCase& c : kBoxCases) {
      QString title, text;
      QMessageBox::StandardButtons buttons;
      QMessageBox::Icon icon = QMessageBox::NoIcon;
      QWidget* parent = nullptr;
      QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        icon = box->icon();
        parent = box->parentWidget();
        box->button(c.clicked)->click();
      });
      const PromptAnswer answer =
          prompt.Ask("Track type is different, substitute failed! ", c.buttons, c.icon);
      QVERIFY2(answer == c.answer, c.name);
      QCOMPARE(title, QStringLiteral("Tessel"));
      QCOMPARE(text, QStringLiteral("Track type is different, substitute failed! "));
      QCOMPARE(buttons, c.expected_buttons);
      QCOMPARE(icon, c.expected_icon);
      QCOMPARE(parent, &window);
    }
  }
};

}  // namespace
}  // namespace tessel::test

using tessel::test::CPromptTest;
TESSEL_UI_TEST(CPromptTest);

#include "prompt_test.moc"
