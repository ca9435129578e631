// The backup-set dialog: one row per set of the backup (date, name, kind). m_nSelectedSet is
// the chosen set's number after Recover, -1 after Cancel or the close box.
#pragma once

#include <QDialog>

class CBackupReader;
class IPrompts;
class QTreeWidget;

class CBackupSetDlg : public QDialog {
  Q_OBJECT

 public:
  // `prompts` shows the message when Recover is pressed with no row selected.
  CBackupSetDlg(const CBackupReader& reader, IPrompts& prompts, QWidget* parent = nullptr);
  int m_nSelectedSet = -1;
  QTreeWidget* List() const { return m_pList; }

 public slots:
  void OnRecover();

 private:
  IPrompts& m_prompts;
  QTreeWidget* m_pList;
};
