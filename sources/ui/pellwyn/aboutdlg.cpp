#include "aboutdlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/pellwyn/artwork.h"
#include "ui/pellwyn/style.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("id100"));
  setWindowTitle(QStringLiteral("About Tarnwell Brackmoor"));
  ApplyDialogColours(this);
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("aboutIcon"));
  icon->setPixmap(ProgramIcon().pixmap(48, 48));
  auto* text = new QLabel(QStringLiteral("Tarnwell Brackmoor - Version 1.0.0.0"), this);
  text->setObjectName(QStringLiteral("aboutText"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* row = new QHBoxLayout();
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addSpacing(12);
  row->addWidget(text, 1, Qt::AlignVCenter);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 18, 18, 12);
  layout->addLayout(row);
  layout->addSpacing(14);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(330, 140)));
}
