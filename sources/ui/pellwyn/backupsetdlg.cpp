#include "backupsetdlg.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/backupreader.h"
#include "ui/core/displaytext.h"
#include "ui/core/prompts.h"
#include "ui/pellwyn/style.h"
#include "ui/pellwyn/textconv.h"

CBackupSetDlg::CBackupSetDlg(const CBackupReader& reader, IPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts), m_pList(new QTreeWidget(this)) {
  setObjectName(QStringLiteral("backupSetDlg"));
  setWindowTitle(QStringLiteral("Brackmoor"));
  ApplyDialogColours(this);
  m_pList->setObjectName(QStringLiteral("setList"));
  m_pList->setColumnCount(3);
  m_pList->setHeaderLabels({QStringLiteral("Backup Date"), QStringLiteral("Set Name"), QStringLiteral("Backup Type")});
  m_pList->setRootIsDecorated(false);
  m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
  m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_pList->setAllColumnsShowFocus(true);
  for (int c = 0; c < 3; ++c) m_pList->setColumnWidth(c, 185);
  for (int n = 1; n <= reader.m_nStreamCount; ++n) {
    CBackupSet* set = reader.GetSet(n);
    if (!set) continue;  // a set the reader lost: nothing to choose
    auto* row = new QTreeWidgetItem(m_pList);
    row->setText(0, FromEngineText(BackupSetDateText(set->m_tmWritten)));
    row->setText(1, FromEngineText(set->m_pszName.str()));
    row->setText(2, set->m_nBackupType == 1 ? QStringLiteral("Full Backup") : QStringLiteral("Differential Backup"));
    row->setData(0, Qt::UserRole, n);
  }
  // The first set is chosen to begin with, and the list has the keys: Enter recovers it, Down
  // moves to the next.
  if (QTreeWidgetItem* first = m_pList->topLevelItem(0)) {
    m_pList->setCurrentItem(first);
    first->setSelected(true);
  }
  m_pList->setFocus();
  auto* recover = new QPushButton(QStringLiteral("Recover"), this);
  recover->setObjectName(QStringLiteral("recover"));
  recover->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  connect(recover, &QPushButton::clicked, this, &CBackupSetDlg::OnRecover);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(recover);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Select a Backup to recover  :"), this));
  layout->addWidget(m_pList);
  layout->addLayout(buttons);
  resize(FittedSize(this, QSize(600, 260)));
}

void CBackupSetDlg::OnRecover() {
  m_nSelectedSet = -1;
  QTreeWidgetItem* row = m_pList->currentItem();
  if (!row || !row->isSelected()) {
    m_prompts.Inform(kMessageTitle, "Please select the Backup to restore first.");
    return;
  }
  m_nSelectedSet = row->data(0, Qt::UserRole).toInt();
  accept();
}
