// Opening the export's server connections and creating the destination database, through the
// real FreeTDS driver against the recording endpoint.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/database.h"
#include "support/fixtures.h"
#include "support/tdsendpoint.h"
#include "ui/core/serverconnection.h"

namespace {

using uicore::ServerLogin;

ServerLogin LoginTo(const testsupport::TdsEndpoint& endpoint, std::string password = "secret",
                    std::string database = "Recovered") {
  return ServerLogin{endpoint.Server(), "sa", std::move(password), std::move(database)};
}

bool Holds(const std::vector<std::string>& batches, const std::string& batch) {
  return std::find(batches.begin(), batches.end(), batch) != batches.end();
}

TEST(ServerConnection, CreateDatabaseDoublesTheClosingBracket) {
  struct Case {
    const char* name;
    const char* statement;
  } cases[] = {{"Northwind_Recovered", "CREATE DATABASE [Northwind_Recovered]"},
               {"a]b", "CREATE DATABASE [a]]b]"},
               {"]]", "CREATE DATABASE []]]]]"},
               {"x]; DROP DATABASE y --", "CREATE DATABASE [x]]; DROP DATABASE y --]"}};
  for (const Case& c : cases) EXPECT_EQ(uicore::CreateDatabaseStatement(c.name), c.statement);
}

// The destination database is made on its own connection before the main one opens; a
// password with separators reaches the server whole.
TEST(ServerConnection, DestinationDatabaseIsCreatedAndTheMainConnectionOpens) {
  const std::string password = "p;w}d {x}=y";
  REQUIRE_ENDPOINT(endpoint, testsupport::AcceptingOnly(password));
  std::string error;
  ASSERT_TRUE(uicore::CreateDestinationDatabase(LoginTo(endpoint, password, "a]b"), &error)) << error;
  EXPECT_TRUE(Holds(endpoint.Batches(), "CREATE DATABASE [a]]b]"));

  CDatabase main;
  ASSERT_TRUE(uicore::OpenServerConnection(main, LoginTo(endpoint, password, "a]b"), &error)) << error;
  EXPECT_EQ(main.GetLoginTimeout(), uicore::kServerLoginTimeoutSeconds);
  main.ExecuteSQL("SELECT 1");
  EXPECT_TRUE(Holds(endpoint.Batches(), "SELECT 1"));
}

// Refusals come back as the server's own message, at once, and never with the password.
TEST(ServerConnection, RefusalsGiveTheServersMessage) {
  {
    REQUIRE_ENDPOINT(endpoint, testsupport::RefusingLogins());
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(uicore::NewServerConnection(LoginTo(endpoint, "Hush;Hush"), &error), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(error.find("Login failed for user 'sa'."), std::string::npos) << error;
    EXPECT_EQ(error.find("Hush"), std::string::npos) << error;
    EXPECT_FALSE(uicore::CreateDestinationDatabase(LoginTo(endpoint, "Hush;Hush"), &error));
    EXPECT_NE(error.find("Login failed"), std::string::npos) << error;
  }
  {
    REQUIRE_ENDPOINT(endpoint, testsupport::RefusingStatements("^CREATE DATABASE"));
    std::string error;
    EXPECT_FALSE(uicore::CreateDestinationDatabase(LoginTo(endpoint), &error));
    EXPECT_NE(error.find("Statement refused by the recording endpoint"), std::string::npos) << error;
  }
  // A value no connection string can carry is refused before anything is sent.
  std::string error;
  EXPECT_EQ(uicore::NewServerConnection(ServerLogin{"127.0.0.1,1", "sa", "a};b", "d"}, &error), nullptr);
  EXPECT_NE(error.find("PWD"), std::string::npos) << error;
  EXPECT_EQ(error.find("a};b"), std::string::npos) << error;
}

}  // namespace
