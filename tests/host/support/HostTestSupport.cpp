#include "support/HostTestSupport.h"

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvo::hosttest {

TempFolder::TempFolder() {
  char tmpl[] = "/tmp/tarvo-host-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(tmpl) + "/";
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int FreePort() {
  Poco::Net::ServerSocket s(Poco::Net::SocketAddress("127.0.0.1", 0));
  int port = s.address().port();
  s.close();
  return port;
}

PortOccupant::PortOccupant(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("cannot occupy port " + std::to_string(port));
  }
}

PortOccupant::~PortOccupant() { ::close(fd_); }

HeldConnection::HeldConnection(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
}

HeldConnection::~HeldConnection() { ::close(fd_); }

bool PortAnswers(int port) {
  try {
    Poco::Net::StreamSocket s;
    s.connect(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)),
              Poco::Timespan(2, 0));
    return true;
  } catch (...) {
    return false;
  }
}

int HttpGetStatus(int port) {
  try {
    Poco::Net::HTTPClientSession session("127.0.0.1", static_cast<Poco::UInt16>(port));
    session.setTimeout(Poco::Timespan(10, 0));
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/",
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& body = session.receiveResponse(response);
    std::string ignored((std::istreambuf_iterator<char>(body)), std::istreambuf_iterator<char>());
    return static_cast<int>(response.getStatus());
  } catch (...) {
    return 0;
  }
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    ::setenv(name_, old_->c_str(), 1);
  else
    ::unsetenv(name_);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string LogText(const std::string& line) {
  auto p = line.find(" | ");
  return p == std::string::npos ? line : line.substr(p + 3);
}

}  // namespace tarvo::hosttest
