#include "about_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "app_icon.h"
#include "dialog_template.h"
#include "dialog_units.h"

namespace tarnwick::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  setWindowTitle(QString::fromLatin1(kAboutBox.title));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(TemplateFont(kAboutBox));
  const DialogBaseUnits base = BaseUnitsOf(font());
  setFixedSize(ClientSize(kAboutBox, base));

  for (const DialogControl& control : kAboutBox.controls) {
    const QRect rect = ControlRect(control, base);
    switch (control.kind) {
      case ControlKind::StaticIcon: {
        // A picture control takes the size of its icon, whatever the template says.
        auto* picture = new QLabel(this);
        const QPixmap pixmap = QPixmap::fromImage(AppIconImage32());
        picture->setPixmap(pixmap);
        picture->setGeometry(QRect(rect.topLeft(), pixmap.size()));
        break;
      }
      case ControlKind::StaticText: {
        auto* label = new QLabel(QString::fromLatin1(control.text), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(rect);
        break;
      }
      case ControlKind::DefaultPushButton:
      case ControlKind::PushButton: {
        auto* button = new QPushButton(QString::fromLatin1(control.text), this);
        button->setGeometry(rect);
        button->setDefault(control.kind == ControlKind::DefaultPushButton);
        if (control.id == kIdOk) connect(button, &QPushButton::clicked, this, &QDialog::accept);
        break;
      }
      case ControlKind::Edit:
      case ControlKind::ProgressBar:
        break;  // the About box has none
    }
  }
}

QPoint CentredFramePosition(const QRect& ownerFrame, const QRect& ownerClient, const QSize& size) {
  // The box is framed as its owner is.
  const int frameWidth = size.width() + ownerFrame.width() - ownerClient.width();
  const int frameHeight = size.height() + ownerFrame.height() - ownerClient.height();
  return {ownerFrame.left() + (ownerFrame.width() - frameWidth) / 2,
          ownerFrame.top() + (ownerFrame.height() - frameHeight) / 2};
}

void CAboutDlg::showEvent(QShowEvent* event) {
  // Centred over the owner's window, frames and all. Qt's own placement puts a
  // dialog some way above its parent's centre, allowing for a title bar.
  if (QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr; owner != nullptr) {
    move(CentredFramePosition(owner->frameGeometry(), owner->geometry(), size()));
  }
  QDialog::showEvent(event);
}

}  // namespace tarnwick::ui
