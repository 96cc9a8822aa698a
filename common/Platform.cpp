#include "common/Platform.h"

#include <openssl/rand.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tarvo {

std::string NewTraceId() {
  unsigned char b[16];
  if (RAND_bytes(b, sizeof b) != 1) return "?";
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[39];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 4);
  }
  return {};
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

bool IsSession0() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (!display || !*display) && (!wayland || !*wayland);
}

}  // namespace tarvo
