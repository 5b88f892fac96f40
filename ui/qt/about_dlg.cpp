#include "about_dlg.h"

#include <QLabel>
#include <QPushButton>

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

}  // namespace tarnwick::ui
