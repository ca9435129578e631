// The export options dialog: where to (a SQL Server database, or a folder of scripts), the
// server's credentials, schema only or schema and data, whether the rows someone deleted are
// recovered too, and a tree of every recovered object with check boxes. The main window keeps one for its whole life and prepares it at each
// opening; after it closes accepted, the request and (server target) the open main connection
// are taken from it.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "ui/core/exportchecktree.h"
#include "ui/core/exportworker.h"

class CDatabase;
class IPrompts;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

class CExportOptionDlg : public QDialog {
  Q_OBJECT

 public:
  // Opens the main connection of a server target (creating the database first when the
  // request asks for it). Null, with a message for the user in `error`, when it could not.
  using ConnectionOpener =
      std::function<std::unique_ptr<CDatabase>(const uicore::ExportRequest& request, std::string& error)>;

  static constexpr const char* kFolderTitle = " Please select a folder to save the .sql files ";

  explicit CExportOptionDlg(IPrompts& prompts, QWidget* parent = nullptr);
  ~CExportOptionDlg() override;

  void SetConnectionOpener(ConnectionOpener opener) { m_openConnection = std::move(opener); }

  // Each opening: the initial choices, the default database name "<db>_Recovered", and the
  // tree rebuilt from the main window's objects with every box checked.
  void Prepare(const uicore::ExportCheckTree& objects, const std::string& databaseName);

  bool Accepted() const { return m_bAccepted; }
  const uicore::ExportRequest& Request() const { return m_request; }
  // The server target's main connection, once; null for scripts.
  std::unique_ptr<CDatabase> TakeConnection();
  // The boxes as the tree shows them.
  const uicore::ExportCheckTree& Boxes() const { return m_boxes; }
  std::string DefaultDatabaseName() const { return m_strDefaultDatabase; }

 public slots:
  void OnServerTarget();
  void OnScriptTarget();
  void OnExportSave();
  void OnCancel();

 private:
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void ShowBoxes();
  void EnableCredentials(bool enable);
  bool ReadCredentials();

  IPrompts& m_prompts;
  ConnectionOpener m_openConnection;
  uicore::ExportCheckTree m_boxes;
  uicore::ExportRequest m_request;
  std::unique_ptr<CDatabase> m_pConnection;
  bool m_bAccepted = false;
  std::string m_strDefaultDatabase;
  std::string m_strLastFolder;

  QRadioButton* m_pServerTarget = nullptr;
  QRadioButton* m_pScriptTarget = nullptr;
  QGroupBox* m_pCredentials = nullptr;
  QCheckBox* m_pCreateDatabase = nullptr;
  QLineEdit* m_pServer = nullptr;
  QLineEdit* m_pDatabase = nullptr;
  QLineEdit* m_pUser = nullptr;
  QLineEdit* m_pPassword = nullptr;
  QRadioButton* m_pSchemaOnly = nullptr;
  QRadioButton* m_pSchemaAndData = nullptr;
  QCheckBox* m_pRecoverDeleted = nullptr;
  QTreeWidget* m_pTree = nullptr;
  QPushButton* m_pExportButton = nullptr;
  QPushButton* m_pCancelButton = nullptr;
};
