// The hold against the real database server: it holds one attachment,
// follows the configured path, replaces a killed attachment, tries an
// unreachable database again, and leaves nothing behind.
#include "server/DatabaseHold.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "common/IBTarvo.h"
#include "common/Konfiguration.h"
#include "common/testing/TestDatabase.h"

namespace tarvo::server {
namespace {

using namespace std::chrono_literals;
using testing::TestDatabase;

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 250; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return done();
}

// Whether `id` is a user attachment of `db`, asked on a connection of its own.
bool Attached(const TestDatabase& db, int64_t id) {
  db::TIBRDATABASE connection;
  connection.SetDatabaseName(db.ConnectionString());
  connection.Open();
  db::TIBRQuery query(connection);
  query.SetSQL(
      "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = :ID AND MON$SYSTEM_FLAG = 0 "
      "AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION");
  query.SetParamInteger("ID", id);
  query.Open();
  const bool found = query.AsInteger(0) == 1;
  query.Close();
  connection.Close();
  return found;
}

class DatabaseHoldDb : public ::testing::Test {
 protected:
  void SetUp() override { Konfiguration().Datenbankpfad = first.ConnectionString(); }
  void TearDown() override {
    hold.Stop();
    Konfiguration().Datenbankpfad = "";
  }

  TestDatabase first{TestDatabase::Schema::None};
  TDatabaseHold hold{50ms};
};

TEST_F(DatabaseHoldDb, HoldsOneAttachmentWhileRunningAndNoneAfterStop) {
  EXPECT_EQ(hold.AttachmentId(), 0);
  hold.Start();
  ASSERT_TRUE(WaitFor([&] { return hold.AttachmentId() != 0; }));
  const int64_t id = hold.AttachmentId();
  EXPECT_TRUE(Attached(first, id));
  hold.Start();  // already running: the same attachment
  std::this_thread::sleep_for(120ms);
  EXPECT_EQ(hold.AttachmentId(), id);

  hold.Stop();
  EXPECT_EQ(hold.AttachmentId(), 0);
  EXPECT_TRUE(WaitFor([&] { return !Attached(first, id); }));
  hold.Stop();  // stopped: nothing to do
}

TEST_F(DatabaseHoldDb, FollowsThePathAndReplacesAKilledAttachment) {
  TestDatabase second{TestDatabase::Schema::None};
  hold.Start();
  ASSERT_TRUE(WaitFor([&] { return hold.AttachmentId() != 0; }));
  const int64_t onFirst = hold.AttachmentId();

  // Attachment ids count per database, so the two may be equal.
  Konfiguration().Datenbankpfad = second.ConnectionString();
  ASSERT_TRUE(WaitFor([&] { return !Attached(first, onFirst); }));
  ASSERT_TRUE(WaitFor([&] { return hold.AttachmentId() != 0 && Attached(second, hold.AttachmentId()); }));

  // An administrator (or a restart of the database server) ends it.
  const int64_t killed = hold.AttachmentId();
  second.Execute("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = " + std::to_string(killed));
  ASSERT_TRUE(WaitFor([&] {
    const int64_t now = hold.AttachmentId();
    return now != 0 && now != killed && Attached(second, now);
  }));
  hold.Stop();  // before `second` is dropped
}

TEST_F(DatabaseHoldDb, AnUnreachableDatabaseIsTriedAgainAndAnEmptyPathHoldsNothing) {
  Konfiguration().Datenbankpfad = "localhost/3050:" + TestDatabase::DataFolder() + "/fehlt-" +
                                  std::to_string(::getpid()) + ".fdb";
  hold.Start();
  std::this_thread::sleep_for(200ms);  // several failed tries
  EXPECT_EQ(hold.AttachmentId(), 0);

  Konfiguration().Datenbankpfad = first.ConnectionString();
  ASSERT_TRUE(WaitFor([&] { return hold.AttachmentId() != 0; }));
  const int64_t id = hold.AttachmentId();
  EXPECT_TRUE(Attached(first, id));

  Konfiguration().Datenbankpfad = "";  // nothing configured: nothing held
  EXPECT_TRUE(WaitFor([&] { return hold.AttachmentId() == 0; }));
  EXPECT_TRUE(WaitFor([&] { return !Attached(first, id); }));
  hold.Stop();
}

}  // namespace
}  // namespace tarvo::server
