// The main dialog and the About box as the operator first sees them: where
// every control stands, the tab order, the texts and states, and what the
// keys, the close box and the context menu do.
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "about_dlg.h"
#include "dialog_template.h"
#include "dialog_units.h"
#include "port_map.h"
#include "posix_serial_port.h"
#include "programmer_dlg.h"

using namespace tarnwick;
using namespace tarnwick::ui;

namespace {

// The base units computed here from the font, as the platform defines them,
// not through the code under test.
DialogBaseUnits ExpectedBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width / 26 + 1) / 2, metrics.height()};
}

int Scale(int units, int base, int divisor) {
  return static_cast<int>((static_cast<long long>(units) * base * 2 + divisor) / (2 * divisor));
}

// Runs `check` on the popup or modal window that the next event loop shows.
template <typename Check>
void WhenShown(Check check) {
  QTimer::singleShot(50, check);
}

}  // namespace

class MainDialogLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    port_ = std::make_unique<PosixSerialPort>(PortMap{});
    dialog_ = std::make_unique<CProgrammerDlg>(*port_);
  }
  void cleanup() {
    dialog_.reset();
    port_.reset();
  }

  void dialogUnitsRoundToTheNearestPixel() {
    QCOMPARE(MulDiv(295, 6, 4), 443);  // 442.5 rounds up
    QCOMPARE(MulDiv(171, 13, 8), 278);  // 277.875
    QCOMPARE(MulDiv(17, 13, 8), 28);    // 27.625
    QCOMPARE(MulDiv(5, 7, 4), 9);       // 8.75
    QCOMPARE(MulDiv(-5, 6, 4), -8);     // halves away from zero
    QCOMPARE(MulDiv(1, 1, 0), -1);
    const QRect rect = DialogUnitsToPixels(17, 127, 67, 22, {6, 13});
    QCOMPARE(rect, QRect(26, 206, 101, 36));
  }

  void controlsStandWhereTheTemplatePutsThem() {
    const DialogBaseUnits base = ExpectedBaseUnits(dialog_->font());
    QVERIFY(base.x > 0 && base.y > 0);
    QCOMPARE(dialog_->size(), QSize(Scale(295, base.x, 4), Scale(171, base.y, 8)));
    QCOMPARE(dialog_->minimumSize(), dialog_->maximumSize());

    const auto& widgets = dialog_->controlsInTemplateOrder();
    QCOMPARE(widgets.size(), kMainDialog.controls.size());
    for (std::size_t i = 0; i < widgets.size(); ++i) {
      const DialogControl& control = kMainDialog.controls[i];
      const QRect expected(Scale(control.x, base.x, 4), Scale(control.y, base.y, 8),
                           Scale(control.width, base.x, 4), Scale(control.height, base.y, 8));
      QCOMPARE(widgets[i]->geometry(), expected);
      QVERIFY(widgets[i]->isVisibleTo(dialog_.get()));
      if (control.id != kStaticId) QCOMPARE(dialog_->control(control.id), widgets[i]);
    }
  }

  void tabOrderFollowsTheTemplateAndExitHasTheFocus() {
    const auto& widgets = dialog_->controlsInTemplateOrder();
    for (std::size_t i = 1; i < widgets.size(); ++i) {
      // Skip Qt's own child widgets (a line edit's buttons) between two controls.
      QWidget* next = widgets[i - 1]->nextInFocusChain();
      while (std::find(widgets.begin(), widgets.end(), next) == widgets.end()) next = next->nextInFocusChain();
      QCOMPARE(next, widgets[i]);
    }
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    QCOMPARE(QApplication::focusWidget(), dialog_->control(IdExit));
  }

  void initialTextsAndStates() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Tarnwick"));
    const Qt::WindowFlags flags = dialog_->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!dialog_->windowIcon().isNull());
    QVERIFY(dialog_->windowIcon().availableSizes().contains(QSize(32, 32)));
    QVERIFY(dialog_->windowIcon().availableSizes().contains(QSize(16, 16)));

    const struct {
      int id;
      const char* text;
      bool enabled;
    } buttons[] = {{IdExit, "Exit", true},
                   {IdLoadFile, "Load File", true},
                   {IdProgram, "Program", false},
                   {IdStop, "Stop Programing", false}};
    for (const auto& expected : buttons) {
      auto* button = qobject_cast<QPushButton*>(dialog_->control(expected.id));
      QVERIFY(button != nullptr);
      QCOMPARE(button->text(), QString::fromLatin1(expected.text));
      QCOMPARE(button->isEnabled(), expected.enabled);
      QVERIFY(!button->isDefault());
      QVERIFY(!button->autoDefault());
    }
    for (int id : {IdImageLength, IdBytesSent, IdUnusedEdit}) {
      auto* edit = qobject_cast<QLineEdit*>(dialog_->control(id));
      QVERIFY(edit != nullptr);
      QVERIFY(edit->text().isEmpty());
      QVERIFY(!edit->isEnabled());
    }
    QCOMPARE(qobject_cast<QLabel*>(dialog_->control(IdStatus))->text(), QStringLiteral("Idle"));
    const auto& widgets = dialog_->controlsInTemplateOrder();
    QCOMPARE(qobject_cast<QLabel*>(widgets[8])->text(), QStringLiteral("Length"));
    QCOMPARE(qobject_cast<QLabel*>(widgets[9])->text(), QStringLiteral("SendLength"));
    auto* progress = qobject_cast<QProgressBar*>(dialog_->control(IdProgress));
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 100);
    QCOMPARE(progress->value(), 0);
    // An empty image's bar stands still and full (a range of 0 to 0 would be Qt's busy indicator).
    dialog_->SetProgressRange(0);
    dialog_->SetProgressPosition(0);
    QVERIFY(progress->maximum() > progress->minimum());
    QCOMPARE(progress->value(), progress->maximum());
  }

  // Enter presses the focused button, or means OK with none focused; Esc,
  // the close box and Exit mean Cancel.
  void keysAndTheCloseBox() {
    int chooserCalls = 0;
    dialog_->setFileChooser([&](QWidget*) {
      ++chooserCalls;
      return QString();
    });
    const auto reopen = [this] {
      dialog_->setResult(-5);
      dialog_->show();
      return QTest::qWaitForWindowActive(dialog_.get());
    };
    QVERIFY(reopen());
    dialog_->control(IdLoadFile)->setFocus();
    QTest::keyClick(dialog_->control(IdLoadFile), Qt::Key_Return);
    QCOMPARE(chooserCalls, 1);
    QVERIFY(dialog_->isVisible());
    dialog_->control(IdExit)->setFocus();
    QTest::keyClick(dialog_->control(IdExit), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(dialog_->result(), int(QDialog::Rejected));
    QVERIFY(!dialog_->isVisible());

    QVERIFY(reopen());
    dialog_->focusWidget()->clearFocus();
    QTest::keyClick(dialog_.get(), Qt::Key_Return);
    QCOMPARE(dialog_->result(), int(QDialog::Accepted));

    QVERIFY(reopen());
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    QCOMPARE(dialog_->result(), int(QDialog::Rejected));

    // Program pressed with Enter disables itself and the focus goes with it:
    // a second Enter does nothing (it must not reach Exit mid-scan).
    QVERIFY(reopen());
    dialog_->EnableControl(IdProgram, true);
    dialog_->control(IdProgram)->setFocus();
    QTest::keyClick(dialog_->windowHandle(), Qt::Key_Return);
    QVERIFY(!dialog_->control(IdProgram)->isEnabled());
    QTest::keyClick(dialog_->windowHandle(), Qt::Key_Return);
    QCOMPARE(dialog_->result(), -5);
    QVERIFY(dialog_->isVisible());
    dialog_->control(IdLoadFile)->setFocus();  // given a control again, Enter presses it
    QTest::keyClick(dialog_->windowHandle(), Qt::Key_Return);
    QCOMPARE(chooserCalls, 2);
    dialog_->KillTimer();  // no scan to the end here

    QVERIFY(reopen());
    dialog_->close();
    QCOMPARE(dialog_->result(), int(QDialog::Rejected));
  }

  // No system menu to extend here: the dialog's context menu carries the About item.
  void contextMenuOpensTheAboutBox() {
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));

    for (int way = 0; way < 3; ++way) {
      QString itemText;
      bool aboutShown = false;
      QPoint aboutOffset(-100, -100);
      WhenShown([&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) return;
        itemText = menu->actions().value(0)->text();
        WhenShown([&] {
          auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
          aboutShown = about != nullptr;
          // Centred over the dialog.
          if (about != nullptr) aboutOffset = about->frameGeometry().center() - dialog_->frameGeometry().center();
          if (about != nullptr) about->accept();
        });
        // Opened by the mouse, the item is clicked; opened by a key, Enter chooses it.
        if (way == 0) {
          QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().value(0)).center());
        } else {
          QTest::keyClick(menu, Qt::Key_Return);
        }
        QTimer::singleShot(500, menu, &QMenu::close);  // a menu that ignored the choice must not hang the test
      });
      if (way == 0) {
        // What the window system makes of a right click on the status line.
        QWidget* status = dialog_->control(IdStatus);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(3, 3), status->mapToGlobal(QPoint(3, 3)));
        QApplication::sendEvent(status, &event);
      } else if (way == 1) {
        QTest::keyClick(dialog_->focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
      } else {
        QTest::keyClick(dialog_->focusWidget(), Qt::Key_Menu);
      }
      QVERIFY2(itemText == QStringLiteral("&About Tarnwick..."), qPrintable(QString::number(way)));
      QVERIFY(aboutShown);
      QCOMPARE(aboutOffset, QPoint(0, 0));
      QVERIFY(dialog_->isVisible());
    }
  }

  void aboutBoxFollowsItsTemplate() {
    CAboutDlg about(dialog_.get());
    QCOMPARE(about.windowTitle(), QStringLiteral("About Tarnwick"));
    const DialogBaseUnits base = ExpectedBaseUnits(about.font());
    QCOMPARE(about.size(), QSize(Scale(235, base.x, 4), Scale(55, base.y, 8)));

    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>()) {
      if (!label->pixmap().isNull()) {
        QCOMPARE(label->pixmap().size(), QSize(32, 32));
        QCOMPARE(label->pos(), QPoint(Scale(11, base.x, 4), Scale(17, base.y, 8)));
      } else {
        texts << label->text();
      }
    }
    texts.sort();
    QCOMPARE(texts, QStringList({QStringLiteral("Copyright (C) 2004"), QStringLiteral("Tarnwick Version 1.0")}));

    const auto buttons = about.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons[0]->text(), QStringLiteral("OK"));
    QVERIFY(buttons[0]->isDefault());
    QCOMPARE(buttons[0]->geometry(), QRect(Scale(178, base.x, 4), Scale(7, base.y, 8), Scale(50, base.x, 4),
                                           Scale(14, base.y, 8)));

    // Frame and client alike centred over the owner's, whatever the frame: here
    // 5 px borders and a 25 px title bar.
    const QRect ownerFrame(100, 50, 410, 330), ownerClient(105, 75, 400, 300);
    const QPoint corner = CentredFramePosition(ownerFrame, ownerClient, QSize(300, 100));
    QCOMPARE(corner, QPoint(150, 150));
    QCOMPARE(QRect(corner + QPoint(5, 25), QSize(300, 100)).center(), ownerClient.center());

    WhenShown([&] { QTest::keyClick(&about, Qt::Key_Return); });
    QCOMPARE(about.exec(), int(QDialog::Accepted));
  }

 private:
  std::unique_ptr<PosixSerialPort> port_;
  std::unique_ptr<CProgrammerDlg> dialog_;
};

QTEST_MAIN(MainDialogLayoutTest)
#include "main_dialog_layout_test.moc"
