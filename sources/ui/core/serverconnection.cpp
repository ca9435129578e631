#include "ui/core/serverconnection.h"

#include "platform/database.h"

namespace uicore {

bool ServerConnectString(const ServerLogin& login, std::string& out, std::string* error, const char* database) {
  try {
    out = SqlServerConnectString(login.server.c_str(), login.user.c_str(), login.password.c_str(),
                                 database ? database : login.database.c_str())
              .str();
    return true;
  } catch (const CDBException& e) {
    // The message names the attribute, never its value.
    if (error) *error = e.m_strError.str();
    return false;
  }
}

namespace {

bool OpenWith(CDatabase& db, const std::string& connect, std::string* error) {
  db.SetLoginTimeout(kServerLoginTimeoutSeconds);
  try {
    return db.OpenEx(connect.c_str(), CDatabase::noOdbcDialog);
  } catch (const CDBException& e) {
    // The driver's diagnostics: the server's login message or why it could not be reached.
    if (error) *error = e.m_strError.str();
    return false;
  }
}

bool OpenOn(CDatabase& db, const ServerLogin& login, const char* database, std::string* error) {
  std::string connect;
  return ServerConnectString(login, connect, error, database) && OpenWith(db, connect, error);
}

}  // namespace

bool OpenServerConnection(CDatabase& db, const ServerLogin& login, std::string* error) {
  return OpenOn(db, login, nullptr, error);
}

std::unique_ptr<CDatabase> NewServerConnection(const ServerLogin& login, std::string* error) {
  auto db = std::make_unique<CDatabase>();
  if (!OpenServerConnection(*db, login, error)) return nullptr;
  return db;
}

std::unique_ptr<CDatabase> NewServerConnection(const std::string& connect, std::string* error) {
  auto db = std::make_unique<CDatabase>();
  if (!OpenWith(*db, connect, error)) return nullptr;
  return db;
}

std::string CreateDatabaseStatement(const std::string& name) {
  std::string statement = "CREATE DATABASE [";
  for (char c : name) {
    statement += c;
    if (c == ']') statement += ']';
  }
  return statement + "]";
}

bool CreateDestinationDatabase(const ServerLogin& login, std::string* error) {
  CDatabase master;
  if (!OpenOn(master, login, "master", error)) return false;
  bool created = true;
  try {
    master.ExecuteSQL(CreateDatabaseStatement(login.database).c_str());
  } catch (const CDBException& e) {
    if (error) *error = e.m_strError.str();
    created = false;
  }
  master.Close();
  return created;
}

}  // namespace uicore
