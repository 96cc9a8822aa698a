// Database events against the real server: posts after registration are
// delivered with their counts, the initial delivery is not, many names
// work, and nothing is delivered after Stop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/IBTarvo.h"
#include "common/testing/TestDatabase.h"

namespace tarvo::db {
namespace {

using tarvo::testing::TestDatabase;
using namespace std::chrono_literals;

// Collects deliveries from the listener's thread.
class Inbox {
 public:
  void Add(const std::string& name, long count) {
    std::lock_guard lock(mutex_);
    totals_[name] += count;
    ++calls_;
    changed_.notify_all();
  }
  // Waits until `name` has reached `total`; false after a generous time-out.
  bool WaitFor(const std::string& name, long total) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return totals_[name] >= total; });
  }
  std::map<std::string, long> Totals() {
    std::lock_guard lock(mutex_);
    return totals_;
  }
  int Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, long> totals_;
  int calls_ = 0;
};

class IBTarvoEventsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { database_ = new TestDatabase(TestDatabase::Schema::None); }
  static void TearDownTestSuite() {
    delete database_;
    database_ = nullptr;
  }

  // Posts each name once, all in one committed transaction.
  void Post(const std::vector<std::string>& names) {
    std::string sql = "EXECUTE BLOCK AS BEGIN ";
    for (const auto& n : names) sql += "POST_EVENT '" + n + "'; ";
    sql += "END";
    database_->Execute(sql);
  }

  static TestDatabase* database_;
};
TestDatabase* IBTarvoEventsDb::database_ = nullptr;

TEST_F(IBTarvoEventsDb, PostsAfterRegistrationArriveWithTheirCounts) {
  Post({"EV_A", "EV_A"});  // before the listener exists: never reported
  Inbox inbox;
  TIBREventListener listener(database_->ConnectionString(), {"EV_A", "EV_B", "ev_a"},
                             [&](const std::string& n, long c) { inbox.Add(n, c); });
  listener.Start();
  EXPECT_TRUE(listener.Running());

  Post({"EV_A", "EV_A", "EV_B"});
  ASSERT_TRUE(inbox.WaitFor("EV_A", 2));
  ASSERT_TRUE(inbox.WaitFor("EV_B", 1));
  Post({"EV_B"});
  ASSERT_TRUE(inbox.WaitFor("EV_B", 2));
  Post({"UNREGISTERED"});
  Post({"EV_A"});
  ASSERT_TRUE(inbox.WaitFor("EV_A", 3));

  const auto totals = inbox.Totals();
  EXPECT_EQ(totals.at("EV_A"), 3);  // the two early posts are not counted
  EXPECT_EQ(totals.at("EV_B"), 2);
  EXPECT_EQ(totals.count("ev_a"), 0u);  // names are case-sensitive
  EXPECT_EQ(totals.count("UNREGISTERED"), 0u);
}

TEST_F(IBTarvoEventsDb, MoreNamesThanOneBlockHolds) {
  std::vector<std::string> names;
  for (int i = 0; i < 33; ++i) names.push_back("MANY_" + std::to_string(i));
  Inbox inbox;
  TIBREventListener listener(database_->ConnectionString(), names,
                             [&](const std::string& n, long c) { inbox.Add(n, c); });
  listener.Start();
  Post({"MANY_0", "MANY_14", "MANY_15", "MANY_29", "MANY_32"});
  for (const char* n : {"MANY_0", "MANY_14", "MANY_15", "MANY_29", "MANY_32"}) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(inbox.WaitFor(n, 1));
  }
  EXPECT_EQ(inbox.Totals().size(), 5u);
}

TEST_F(IBTarvoEventsDb, NothingArrivesAfterStop) {
  Inbox inbox;
  TIBREventListener listener(database_->ConnectionString(), {"EV_STOP", "EV_FENCE"},
                             [&](const std::string& n, long c) { inbox.Add(n, c); });
  listener.Start();
  Post({"EV_STOP"});
  ASSERT_TRUE(inbox.WaitFor("EV_STOP", 1));
  listener.Stop();
  EXPECT_FALSE(listener.Running());
  const int calls = inbox.Calls();
  Post({"EV_STOP"});

  // A second listener sees the next post; by then the first one would have
  // been told too, had it still been registered.
  Inbox fence;
  TIBREventListener second(database_->ConnectionString(), {"EV_FENCE"},
                           [&](const std::string& n, long c) { fence.Add(n, c); });
  second.Start();
  Post({"EV_FENCE"});
  ASSERT_TRUE(fence.WaitFor("EV_FENCE", 1));
  EXPECT_EQ(inbox.Calls(), calls);

  listener.Stop();  // a second Stop does nothing
  // It can be started again and then sees new posts only.
  listener.Start();
  Post({"EV_STOP"});
  ASSERT_TRUE(inbox.WaitFor("EV_STOP", 2));
  EXPECT_EQ(inbox.Totals().at("EV_STOP"), 2);
}

TEST_F(IBTarvoEventsDb, ListenerDestroyedWhileACallbackRuns) {
  std::mutex m;
  std::condition_variable cv;
  bool inside = false;
  bool finished = false;
  int calls = 0;
  {
    TIBREventListener listener(database_->ConnectionString(), {"EV_SLOW"},
                               [&](const std::string&, long) {
                                 std::unique_lock lock(m);
                                 ++calls;
                                 inside = true;
                                 cv.notify_all();
                                 lock.unlock();
                                 std::this_thread::sleep_for(200ms);
                                 lock.lock();
                                 finished = true;
                               });
    listener.Start();
    Post({"EV_SLOW"});
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 20s, [&] { return inside; }));
  }  // the destructor waits for the running callback
  std::lock_guard lock(m);
  EXPECT_TRUE(finished);
  EXPECT_EQ(calls, 1);
}

TEST_F(IBTarvoEventsDb, StartFailsWithTheServersMessage) {
  TIBREventListener listener("localhost/3050:/nonexistent/folder/x.fdb", {"EV"},
                             [](const std::string&, long) {});
  try {
    listener.Start();
    FAIL() << "Start succeeded";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/folder/x.fdb"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(listener.Running());
}

}  // namespace
}  // namespace tarvo::db
