#include "common/Konstanten.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/Platform.h"

namespace tarvo {
namespace {

// The user's application-data location: $XDG_DATA_HOME when it is an
// absolute path, else ~/.local/share (home from $HOME, else the password
// database). Empty when neither is known.
std::string ApplicationDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  std::string home;
  if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
    home = h;
  } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
    home = pw->pw_dir;
  }
  if (home.empty()) return {};
  if (home.back() != '/') home.push_back('/');
  return home + ".local/share";
}

// The last path element of `name` without its extension; "." and ".."
// count as no name at all.
std::string ProgramName(const std::string& name) {
  std::string part = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  if (part == "." || part == "..") return {};
  const auto dot = part.rfind('.');
  if (dot != std::string::npos && dot > 0) part.erase(dot);
  return part;
}

}  // namespace

std::string UserDataFolder(const std::string& name) {
  try {
    std::string base = ApplicationDataFolder();
    if (base.empty()) return {};
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string folder = base + "/Tarvo/" + ProgramName(name.empty() ? ExecutablePath() : name);
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    folder.push_back('/');

    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return folder;
    fs::create_directories(folder, ec);
    if (fs::is_directory(folder, ec)) return folder;
    return {};
  } catch (...) {
    return {};
  }
}

}  // namespace tarvo
