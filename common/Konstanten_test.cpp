#include "common/Konstanten.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tarvo {
namespace {

namespace fs = std::filesystem;

class UserData : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarvo-home-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    Save("XDG_DATA_HOME", xdg_, hadXdg_);
    Save("HOME", home_, hadHome_);
  }
  void TearDown() override {
    hadXdg_ ? setenv("XDG_DATA_HOME", xdg_.c_str(), 1) : unsetenv("XDG_DATA_HOME");
    hadHome_ ? setenv("HOME", home_.c_str(), 1) : unsetenv("HOME");
    fs::remove_all(dir_);
  }
  static void Save(const char* name, std::string& value, bool& had) {
    const char* v = std::getenv(name);
    had = v != nullptr;
    if (v) value = v;
  }

  std::string dir_, xdg_, home_;
  bool hadXdg_ = false, hadHome_ = false;
};

TEST_F(UserData, FolderBelowXdgDataHomeIsCreated) {
  setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
  const struct {
    const char* name;
    const char* folder;
  } cases[] = {
      {"", "common_tests"},  // the running program
      {"tarvoreport.exe", "tarvoreport"},
      {"x.dat", "x"},
      {"/irgendwo/anders/vorlagen.tar.gz", "vorlagen.tar"},
      {"ohne", "ohne"},
  };
  for (const auto& c : cases) {
    const std::string expected = dir_ + "/data/Tarvo/" + c.folder + "/";
    EXPECT_EQ(UserDataFolder(c.name), expected) << c.name;
    EXPECT_TRUE(fs::is_directory(expected)) << c.name;
    // A second call finds the folder and returns the same text.
    EXPECT_EQ(UserDataFolder(c.name), expected) << c.name;
  }
}

TEST_F(UserData, FallsBackToHomeLocalShare) {
  setenv("HOME", dir_.c_str(), 1);
  for (const char* xdg : {static_cast<const char*>(nullptr), "", "relativ/pfad"}) {
    xdg ? setenv("XDG_DATA_HOME", xdg, 1) : unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(UserDataFolder("tarvoreport"), dir_ + "/.local/share/Tarvo/tarvoreport/")
        << (xdg ? xdg : "(unset)");
  }
}

TEST_F(UserData, FolderThatCannotBeCreatedGivesEmptyText) {
  // A plain file where the Tarvo folder would be.
  fs::create_directories(dir_ + "/data");
  std::ofstream(dir_ + "/data/Tarvo") << "kein Ordner";
  setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
  EXPECT_EQ(UserDataFolder("tarvoreport"), "");

  // A file with the folder's own name.
  fs::remove(dir_ + "/data/Tarvo");
  fs::create_directories(dir_ + "/data/Tarvo");
  std::ofstream(dir_ + "/data/Tarvo/x") << "";
  EXPECT_EQ(UserDataFolder("x.dat"), "");
}

}  // namespace
}  // namespace tarvo
