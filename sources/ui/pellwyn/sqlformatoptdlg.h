// The server-version dialog: which SQL Server wrote the backup. It opens on the version the
// file says (`preselected`, 1-3), or on 2000 when the file does not say. m_nVersion is 1
// (2000), 2 (2005) or 3 (2008) after OK, 0 after Cancel.
#pragma once

#include <QDialog>

class QButtonGroup;

class CSqlFormatOptDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSqlFormatOptDlg(QWidget* parent = nullptr, int preselected = 0);
  int m_nVersion = 0;

  void accept() override;
  void reject() override;

 private:
  QButtonGroup* m_pGroup;
};
