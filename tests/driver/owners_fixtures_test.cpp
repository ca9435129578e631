// A table owned by someone other than dbo: a copy of a real file whose Orders row names
// another owner (guest) is exported with that owner created, guarded, before the table, and
// every statement about the table (its foreign keys and those that reference it) names it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/fixtures.h"

using testsupport::ReadFile;

namespace {

// Sets, in the object catalog's row of object `id`, the owner field at `field` to `owner`.
// Catalog rows sit on pages whose header names the catalog object; false when no row is found.
bool SetOwner(std::string& file, std::int32_t catalog, std::int32_t id, size_t field, unsigned char owner) {
  auto u16 = [&](size_t at) { return unsigned(static_cast<unsigned char>(file[at])) | unsigned(static_cast<unsigned char>(file[at + 1])) << 8; };
  auto i32 = [&](size_t at) {
    std::int32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return v;
  };
  for (size_t page = 0; page + 8192 <= file.size(); page += 8192) {
    if (file[page + 1] != 1 || i32(page + 24) != catalog) continue;
    const unsigned slots = u16(page + 22);
    for (unsigned s = 0; s < slots && s < 4000; ++s) {
      const unsigned offset = u16(page + 8190 - 2 * s);
      if (offset < 96 || offset + field + 1 >= 8192) continue;
      if (i32(page + offset + 4) != id) continue;
      file[page + offset + field] = char(owner);
      return true;
    }
  }
  return false;
}

}  // namespace

TEST(OwnersFixtures, AnOwnerOtherThanDboIsCreatedBeforeItsTable) {
  if (testsupport::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
  const struct {
    const char* file;
    int format;
    std::int32_t catalog, ordersId;
    size_t ownerField;
    const char* guard;  // what comes before the table
  } cases[] = {
      // sysobjects: uid at 12; the user guest has uid 2.
      {"sample2000_NORTHWND.MDF", 2000, 1, 21575115, 12,
       "IF LEFT(CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(20)), 2) <> N'8.' EXEC(N'IF SCHEMA_ID(N''guest'') "
       "IS NULL EXEC(N''CREATE SCHEMA [guest]'')')"},
      // The object catalog (34): schema id at 8; the schema guest has id 2.
      {"mdf2008_northwnd_itsligo.mdf", 2008, 34, 149575571, 8, "IF SCHEMA_ID(N'guest') IS NULL EXEC(N'CREATE SCHEMA [guest]')"},
  };
  testsupport::TempDir dir;
  int ran = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string fixture = testsupport::FixturePath(c.file);
    if (fixture.empty()) continue;
    std::string bytes = ReadFile(fixture);
    ASSERT_TRUE(SetOwner(bytes, c.catalog, c.ordersId, c.ownerField, 2));
    const std::string copy = dir.file(std::string("guest-") + c.file + ".mdf");
    testsupport::WriteFile(copy, bytes);
    const std::string out = dir.file(std::string(c.file) + ".export");
    const std::string cmd = "cd '" + dir.path() + "' && '" + std::string(PELLWYN_ENGINE_DRIVER) + "' export '" + copy +
                            "' '" + out + "' --format " + std::to_string(c.format) + " > '" + out + ".out' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(out + ".out");
    ++ran;

    const std::string orders = ReadFile(out + "/Tables/Orders.sql");
    const size_t guard = orders.find(c.guard), table = orders.find("CREATE TABLE [guest].[Orders]");
    ASSERT_NE(guard, std::string::npos) << orders.substr(0, 400);
    ASSERT_NE(table, std::string::npos);
    EXPECT_LT(guard, table);
    // Other tables stay dbo's.
    EXPECT_EQ(ReadFile(out + "/Tables/Shippers.sql").find("guest"), std::string::npos);
    const std::string keys = ReadFile(out + "/ForeignKeys.sql");
    EXPECT_NE(keys.find("ALTER TABLE [guest].[Orders] WITH NOCHECK ADD CONSTRAINT [FK_Orders_Shippers]"),
              std::string::npos);
    EXPECT_NE(keys.find("REFERENCES [guest].[Orders] ([OrderID])"), std::string::npos);
  }
  if (ran == 0) GTEST_SKIP() << "fixtures not available";
}
