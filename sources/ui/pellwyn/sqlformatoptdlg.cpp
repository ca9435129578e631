#include "sqlformatoptdlg.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/core/prompts.h"
#include "ui/pellwyn/style.h"

CSqlFormatOptDlg::CSqlFormatOptDlg(QWidget* parent, int preselected) : QDialog(parent), m_pGroup(new QButtonGroup(this)) {
  setObjectName(QStringLiteral("sqlFormatOptDlg"));
  setWindowTitle(QString::fromLatin1(kMessageTitle));
  ApplyDialogColours(this);
  auto* box = new QGroupBox(QStringLiteral("Select version"), this);
  auto* boxLayout = new QVBoxLayout(box);
  const char* const names[] = {"Microsoft SQL Server 2000", "Microsoft SQL Server 2005", "Microsoft SQL Server 2008"};
  for (int version = 1; version <= 3; ++version) {
    auto* radio = new QRadioButton(QString::fromLatin1(names[version - 1]), box);
    radio->setObjectName(QStringLiteral("version%1").arg(version));
    m_pGroup->addButton(radio, version);
    boxLayout->addWidget(radio);
  }
  m_pGroup->button(preselected >= 1 && preselected <= 3 ? preselected : 1)->setChecked(true);
  auto* note = new QLabel(QStringLiteral("Note : Selecting a wrong version may result in inconsistent behaviour"), this);
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CSqlFormatOptDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CSqlFormatOptDlg::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addWidget(note);
  layout->addWidget(buttons);
  setMinimumWidth(340);
}

void CSqlFormatOptDlg::accept() {
  const int id = m_pGroup->checkedId();
  m_nVersion = id >= 1 && id <= 3 ? id : 0;
  QDialog::accept();
}

void CSqlFormatOptDlg::reject() {
  m_nVersion = 0;
  QDialog::reject();
}
