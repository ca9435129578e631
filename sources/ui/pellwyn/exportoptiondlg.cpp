#include "exportoptiondlg.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/database.h"
#include "ui/core/prompts.h"
#include "ui/pellwyn/artwork.h"
#include "ui/pellwyn/style.h"
#include "ui/pellwyn/textconv.h"

namespace {

// Which box an item of the tree is: its kind, folder and place in the folder.
constexpr int kKindRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kIndexRole = Qt::UserRole + 2;

using uicore::CheckTarget;
using uicore::ExportFolder;

QString Id(int id) { return QStringLiteral("id%1").arg(id); }

template <class W>
W* Named(W* widget, int id) {
  widget->setObjectName(Id(id));
  return widget;
}

Qt::CheckState Box(bool checked) { return checked ? Qt::Checked : Qt::Unchecked; }

CheckTarget TargetOf(const QTreeWidgetItem* item) {
  CheckTarget t;
  t.kind = CheckTarget::Kind(item->data(0, kKindRole).toInt());
  t.folder = ExportFolder(item->data(0, kFolderRole).toInt());
  t.index = size_t(item->data(0, kIndexRole).toULongLong());
  return t;
}

QTreeWidgetItem* NewItem(const QString& text, CheckTarget target) {
  auto* item = new QTreeWidgetItem();
  item->setText(0, text);
  item->setData(0, kKindRole, int(target.kind));
  item->setData(0, kFolderRole, int(target.folder));
  item->setData(0, kIndexRole, qulonglong(target.index));
  // A box the user checks, with no state derived from the children: the tree's own rules
  // decide what a click does to the others.
  item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
  return item;
}

const char* const kEnterServer = "Please enter the server name.";
const char* const kEnterDatabase = "Please enter the database name.";
const char* const kNoServerExport = "Export to a SQL Server database is not available in this build.";

}  // namespace

CExportOptionDlg::CExportOptionDlg(IPrompts& prompts, QWidget* parent) : QDialog(parent), m_prompts(prompts) {
  setObjectName(Id(130));
  setWindowTitle(QStringLiteral("Brackmoor Server Recovery Export Option"));
  ApplyDialogColours(this);

  auto* banner = new QLabel(this);
  banner->setObjectName(QStringLiteral("banner"));
  banner->setPixmap(BannerPixmap().scaledToHeight(40, Qt::SmoothTransformation));
  banner->setAutoFillBackground(true);
  QPalette bannerPalette = banner->palette();
  bannerPalette.setColor(QPalette::Window, QColor(24, 52, 96));
  banner->setPalette(bannerPalette);

  auto* targets = Named(new QGroupBox(QStringLiteral("Export To/As"), this), 1026);
  m_pServerTarget = Named(new QRadioButton(QStringLiteral("SQL Server Database"), targets), 1041);
  m_pScriptTarget = Named(new QRadioButton(QStringLiteral("SQL Server Compatible SQL Scripts"), targets), 1042);
  auto* targetGroup = new QButtonGroup(this);
  targetGroup->addButton(m_pServerTarget);
  targetGroup->addButton(m_pScriptTarget);
  auto* targetLayout = new QHBoxLayout(targets);
  targetLayout->addWidget(m_pServerTarget);
  targetLayout->addWidget(m_pScriptTarget);
  targetLayout->addStretch(1);
  connect(m_pServerTarget, &QRadioButton::clicked, this, &CExportOptionDlg::OnServerTarget);
  connect(m_pScriptTarget, &QRadioButton::clicked, this, &CExportOptionDlg::OnScriptTarget);

  m_pCredentials = Named(new QGroupBox(QStringLiteral("Database Credentials"), this), 1027);
  m_pCreateDatabase = Named(new QCheckBox(QStringLiteral("Create destination database"), m_pCredentials), 1125);
  m_pServer = Named(new QLineEdit(m_pCredentials), 1044);
  m_pDatabase = Named(new QLineEdit(m_pCredentials), 1054);
  m_pUser = Named(new QLineEdit(m_pCredentials), 1046);
  m_pPassword = Named(new QLineEdit(m_pCredentials), 1047);
  m_pPassword->setEchoMode(QLineEdit::Password);
  auto* form = new QFormLayout();
  form->addRow(Named(new QLabel(QStringLiteral("Server Name :"), m_pCredentials), 1043), m_pServer);
  form->addRow(Named(new QLabel(QStringLiteral("Database Name :"), m_pCredentials), 1057), m_pDatabase);
  form->addRow(Named(new QLabel(QStringLiteral("User Name :"), m_pCredentials), 1045), m_pUser);
  form->addRow(Named(new QLabel(QStringLiteral("Password :"), m_pCredentials), 1048), m_pPassword);
  auto* credentialsLayout = new QVBoxLayout(m_pCredentials);
  credentialsLayout->addWidget(m_pCreateDatabase);
  credentialsLayout->addLayout(form);

  auto* content = Named(new QGroupBox(QStringLiteral("Export"), this), 1029);
  m_pSchemaOnly = Named(new QRadioButton(QStringLiteral("With only schema"), content), 1076);
  m_pSchemaAndData = Named(new QRadioButton(QStringLiteral("With Schema && Data"), content), 1077);
  auto* contentGroup = new QButtonGroup(this);
  contentGroup->addButton(m_pSchemaOnly);
  contentGroup->addButton(m_pSchemaAndData);
  auto note = [content](const char* text) {
    auto* label = new QLabel(QString::fromLatin1(text), content);
    label->setWordWrap(true);
    return label;
  };
  auto* contentLayout = new QGridLayout(content);
  contentLayout->addWidget(m_pSchemaOnly, 0, 0);
  contentLayout->addWidget(
      note("(This option will only create schema for the selected tables/views/ procedures)"), 0, 1);
  contentLayout->addWidget(m_pSchemaAndData, 1, 0);
  contentLayout->addWidget(note("(This option will export schema  as well data for the table)"), 1, 1);
  m_pRecoverDeleted = Named(new QCheckBox(QStringLiteral("Recover deleted rows"), content), 1126);
  contentLayout->addWidget(m_pRecoverDeleted, 2, 0);
  contentLayout->addWidget(
      note("(Rows deleted but still on the pages are exported too and then shown in the preview; "
           "copies of other rows are left out)"),
      2, 1);
  contentLayout->setColumnStretch(1, 1);

  m_pTree = Named(new QTreeWidget(this), 1079);
  m_pTree->setHeaderHidden(true);
  m_pTree->setMinimumHeight(220);
  connect(m_pTree, &QTreeWidget::itemChanged, this, &CExportOptionDlg::OnItemChanged);

  m_pExportButton = Named(new QPushButton(QStringLiteral("Export/Save"), this), 1021);
  m_pCancelButton = Named(new QPushButton(QStringLiteral("Cancel"), this), 1025);
  m_pExportButton->setDefault(true);
  connect(m_pExportButton, &QPushButton::clicked, this, &CExportOptionDlg::OnExportSave);
  connect(m_pCancelButton, &QPushButton::clicked, this, &CExportOptionDlg::OnCancel);

  auto* left = new QVBoxLayout();
  left->addWidget(targets);
  left->addWidget(m_pCredentials);
  left->addWidget(content);
  left->addStretch(1);
  auto* body = new QHBoxLayout();
  body->addLayout(left, 3);
  body->addWidget(m_pTree, 2);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(m_pExportButton);
  buttons->addWidget(m_pCancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(banner);
  layout->addLayout(body, 1);
  layout->addLayout(buttons);
  resize(FittedSize(this, QSize(760, 520)));
}

CExportOptionDlg::~CExportOptionDlg() = default;

void CExportOptionDlg::Prepare(const uicore::ExportCheckTree& objects, const std::string& databaseName) {
  m_bAccepted = false;
  m_request = uicore::ExportRequest();
  m_pConnection.reset();
  m_strDefaultDatabase = databaseName + "_Recovered";
  m_pDatabase->setText(FromEngineText(m_strDefaultDatabase));

  m_pServerTarget->setChecked(true);
  m_pSchemaAndData->setChecked(true);
  m_pCreateDatabase->setChecked(true);
  m_pRecoverDeleted->setChecked(false);
  // The credentials belong to the server target, which each opening starts with.
  EnableCredentials(true);

  m_boxes = objects;
  m_boxes.CheckAll();
  const QSignalBlocker quiet(m_pTree);
  m_pTree->clear();
  auto* root = NewItem(FromEngineText(m_boxes.rootText), CheckTarget::Root());
  m_pTree->addTopLevelItem(root);
  for (int f = 0; f < uicore::kExportFolderCount; ++f) {
    const auto folder = ExportFolder(f);
    auto* folderItem = NewItem(QString::fromLatin1(uicore::ExportFolderText(folder)), CheckTarget::OfFolder(folder));
    root->addChild(folderItem);
    QList<QTreeWidgetItem*> items;
    const auto& list = m_boxes.Folder(folder).objects;
    for (size_t i = 0; i < list.size(); ++i) {
      auto* item = NewItem(FromEngineText(list[i].name), CheckTarget::OfObject(folder, i));
      if (list[i].bold) {
        QFont bold = item->font(0);
        bold.setBold(true);
        item->setFont(0, bold);
      }
      items.append(item);
    }
    folderItem->addChildren(items);
    folderItem->setExpanded(folder != ExportFolder::Triggers);
  }
  root->setExpanded(true);
  ShowBoxes();
  m_pTree->scrollToTop();
}

void CExportOptionDlg::ShowBoxes() {
  const QSignalBlocker quiet(m_pTree);
  QTreeWidgetItem* root = m_pTree->topLevelItem(0);
  if (!root) return;
  root->setCheckState(0, Box(m_boxes.rootChecked));
  for (int f = 0; f < root->childCount() && f < uicore::kExportFolderCount; ++f) {
    QTreeWidgetItem* folderItem = root->child(f);
    const uicore::ExportTreeFolder& folder = m_boxes.folders[size_t(f)];
    folderItem->setCheckState(0, Box(folder.checked));
    for (int i = 0; i < folderItem->childCount() && size_t(i) < folder.objects.size(); ++i)
      folderItem->child(i)->setCheckState(0, Box(folder.objects[size_t(i)].checked));
  }
}

void CExportOptionDlg::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (!item || column != 0) return;
  // The box has already turned; the rules work from the state before the click, which the
  // model still holds. A change that is not a turn of the box (say, of the text) is none.
  const CheckTarget target = TargetOf(item);
  const bool now = item->checkState(0) == Qt::Checked;
  bool before = m_boxes.rootChecked;
  const int f = int(target.folder);
  if (target.kind != CheckTarget::Kind::Root) {
    if (f < 0 || f >= uicore::kExportFolderCount) return;
    const uicore::ExportTreeFolder& folder = m_boxes.folders[size_t(f)];
    if (target.kind == CheckTarget::Kind::Folder) {
      before = folder.checked;
    } else {
      if (target.index >= folder.objects.size()) return;
      before = folder.objects[target.index].checked;
    }
  }
  if (before == now) return;
  uicore::ApplyCheckClick(m_boxes, target);
  ShowBoxes();
}

void CExportOptionDlg::EnableCredentials(bool enable) { m_pCredentials->setEnabled(enable); }

void CExportOptionDlg::OnServerTarget() { EnableCredentials(true); }

void CExportOptionDlg::OnScriptTarget() { EnableCredentials(false); }

bool CExportOptionDlg::ReadCredentials() {
  m_request.server = ToEngineText(m_pServer->text().trimmed());
  m_request.database = ToEngineText(m_pDatabase->text().trimmed());
  m_request.user = ToEngineText(m_pUser->text());
  m_request.password = ToEngineText(m_pPassword->text());
  m_request.createDatabase = m_pCreateDatabase->isChecked();
  if (m_request.server.empty()) {
    m_prompts.Inform(kMessageTitle, kEnterServer);
    m_pServer->setFocus();
    return false;
  }
  if (m_request.database.empty()) {
    m_prompts.Inform(kMessageTitle, kEnterDatabase);
    m_pDatabase->setFocus();
    return false;
  }
  return true;
}

void CExportOptionDlg::OnExportSave() {
  uicore::GatherSelection(m_boxes, m_request);
  m_request.rows = m_pSchemaAndData->isChecked();
  m_request.toServer = m_pServerTarget->isChecked();
  m_request.recoverDeleted = m_pRecoverDeleted->isChecked();
  if (m_request.toServer) {
    if (!ReadCredentials()) return;
    if (!m_openConnection) return m_prompts.Inform(kMessageTitle, kNoServerExport);
    std::string error;
    // The login may take up to its time-out on this thread: the cursor says the window waits.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::unique_ptr<CDatabase> connection;
    try {
      connection = m_openConnection(m_request, error);
    } catch (const std::exception& e) {
      // A driver failure is the user's to read, not the end of the program.
      connection.reset();
      error = e.what();
    }
    QApplication::restoreOverrideCursor();
    if (!connection && error.empty()) error = "The connection to the server could not be opened.";
    // A connection that did not open starts no export: the user may correct the fields.
    if (!connection) return m_prompts.Inform(kMessageTitle, error);
    m_pConnection = std::move(connection);
    m_request.folder.clear();
  } else {
    const std::optional<std::string> folder = m_prompts.ChooseFolder(kFolderTitle, m_strLastFolder);
    // Without a folder there is nowhere to write: the dialog stays for another choice.
    if (!folder || folder->empty()) return;
    m_strLastFolder = *folder;
    m_request.folder = *folder;
  }
  m_bAccepted = true;
  accept();
}

void CExportOptionDlg::OnCancel() {
  m_bAccepted = false;
  reject();
}

std::unique_ptr<CDatabase> CExportOptionDlg::TakeConnection() { return std::move(m_pConnection); }
