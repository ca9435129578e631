// Connections to the live server an export writes into: the main connection the export options
// dialog opens, the pool's connections, and the destination database made through master.
// Everything goes through the platform's CDatabase and the program's connection string
// (SqlServerConnectString), which unixODBC resolves to FreeTDS under the name "SQL Server".
//
// The password and the connection string are never logged or put into a message: what a
// failure reports is the driver's or the server's own text.
#pragma once

#include <memory>
#include <string>

class CDatabase;

namespace uicore {

struct ServerLogin {
  std::string server, user, password, database;
};

// How long an open waits for the server. The dialog's open runs on the GUI thread, so an
// unreachable server must not hold the window much longer than this.
constexpr unsigned kServerLoginTimeoutSeconds = 15;

// The program's connection string for `login`, its database replaced by `database` when one
// is given. False (and `error` says which value) when a value cannot be written into a
// connection string at all.
bool ServerConnectString(const ServerLogin& login, std::string& out, std::string* error,
                         const char* database = nullptr);

// Opens `db` on the login's database: the login time-out above, never a driver prompt.
// False with the driver's or server's text in `error` when it did not open.
bool OpenServerConnection(CDatabase& db, const ServerLogin& login, std::string* error);

// A new connection opened as OpenServerConnection opens one, or null (and why).
std::unique_ptr<CDatabase> NewServerConnection(const ServerLogin& login, std::string* error);
// The same for a connection string given whole (engine-driver's --server).
std::unique_ptr<CDatabase> NewServerConnection(const std::string& connect, std::string* error);

// "CREATE DATABASE [name]" with any "]" of the name doubled.
std::string CreateDatabaseStatement(const std::string& name);

// "Create destination database": connects to master with the login's credentials, creates the
// login's database there and closes that connection again. False with the server's message when
// either step failed (the caller then does not start the export).
bool CreateDestinationDatabase(const ServerLogin& login, std::string* error);

}  // namespace uicore
