#include "common/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>

namespace tarvo {
namespace {

TEST(Platform, TraceIdIsARandomVersion4Guid) {
  const std::regex shape(
      R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::string id = NewTraceId();
    ASSERT_EQ(id.size(), 38u);
    ASSERT_TRUE(std::regex_match(id, shape)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(Platform, ExecutablePathAndFolder) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "common_tests");
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(path.rfind(folder, 0), 0u);
  EXPECT_EQ(path.substr(folder.size()).find('/'), std::string::npos);
}

// Restores an environment variable when it leaves scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(Platform, Session0MeansNoGraphicalSession) {
  const struct {
    const char* display;
    const char* wayland;
    bool session0;
  } cases[] = {
      {nullptr, nullptr, true}, {"", "", true},           {":0", nullptr, false},
      {nullptr, "wayland-0", false}, {":1", "wayland-0", false}, {"", "wayland-1", false},
  };
  for (const auto& c : cases) {
    ScopedEnv d("DISPLAY", c.display);
    ScopedEnv w("WAYLAND_DISPLAY", c.wayland);
    EXPECT_EQ(IsSession0(), c.session0)
        << (c.display ? c.display : "(unset)") << " / " << (c.wayland ? c.wayland : "(unset)");
  }
}

}  // namespace
}  // namespace tarvo
