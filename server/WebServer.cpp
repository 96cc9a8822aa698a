// The listener. Each accepted connection runs on a thread of its own pool
// (128 threads; connections beyond that wait in a queue of 256 and further
// ones are refused), reads one request (no keep-alive) and leases a
// TWebModul from the module pool for it. At most 32 modules are busy at
// once; a request beyond that is answered at once with status 503 and the
// text "Zu viele gleichzeitige Verbindungen", and nothing else changes.
#include "server/WebServer.h"

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerConnection.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/TCPServer.h>
#include <Poco/Net/TCPServerConnectionFactory.h>
#include <Poco/ThreadPool.h>
#include <Poco/URI.h>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <istream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include "common/DXLogger.h"
#include "common/Konfiguration.h"
#include "server/DatabaseHold.h"
#include "server/Web.h"

namespace tarvo::server {
namespace {

constexpr int kMaxBusyModules = 32;
constexpr int kMaxThreads = 128;
constexpr int kMaxQueued = 256;
// Bodies above this are refused (413) before anything is decoded.
constexpr std::streamsize kMaxBodyBytes = std::streamsize(1) << 30;

// Idle modules are kept for re-use; at most kMaxBusyModules are leased.
class ModulePool {
 public:
  explicit ModulePool(ServerContext& context) : context_(context) {}

  class Lease {
   public:
    Lease() = default;
    Lease(ModulePool* pool, std::unique_ptr<TWebModul> module) : pool_(pool), module_(std::move(module)) {}
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease() {
      if (pool_ && module_) pool_->Return(std::move(module_));
    }
    TWebModul* get() const { return module_.get(); }
    explicit operator bool() const { return module_ != nullptr; }

   private:
    ModulePool* pool_ = nullptr;
    std::unique_ptr<TWebModul> module_;
  };

  // An idle or new module; an empty lease when kMaxBusyModules are busy.
  Lease Acquire() {
    std::unique_ptr<TWebModul> module;
    {
      std::lock_guard lock(mutex_);
      if (busy_ >= kMaxBusyModules) {
        ++refused_;
        return {};
      }
      ++busy_;
      if (busy_ > peak_) peak_ = busy_;
      if (!idle_.empty()) {
        module = std::move(idle_.back());
        idle_.pop_back();
      }
    }
    if (!module) {
      try {
        module = std::make_unique<TWebModul>(context_);
      } catch (...) {
        std::lock_guard lock(mutex_);
        --busy_;
        throw;
      }
    }
    return Lease(this, std::move(module));
  }

  int Peak() {
    std::lock_guard lock(mutex_);
    return peak_;
  }
  int Refused() {
    std::lock_guard lock(mutex_);
    return refused_;
  }
  void ResetFigures() {
    std::lock_guard lock(mutex_);
    peak_ = busy_;
    refused_ = 0;
  }

  // Frees the idle modules (and with them their connections).
  void Clear() {
    std::vector<std::unique_ptr<TWebModul>> idle;
    {
      std::lock_guard lock(mutex_);
      idle.swap(idle_);
    }
  }

 private:
  void Return(std::unique_ptr<TWebModul> module) {
    std::lock_guard lock(mutex_);
    --busy_;
    idle_.push_back(std::move(module));
  }

  ServerContext& context_;
  std::mutex mutex_;
  int busy_ = 0;
  int peak_ = 0;
  int refused_ = 0;
  std::vector<std::unique_ptr<TWebModul>> idle_;
};

class Logger : public TLevelLogger {};

// Whether the peer still holds the connection: false once it closed or
// reset it (a read would give end of file or an error).
bool PeerConnected(Poco::Net::StreamSocket& socket) {
  try {
    if (!socket.poll(Poco::Timespan(0), Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR))
      return true;
    char c;
    const ssize_t n = ::recv(socket.impl()->sockfd(), &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return true;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    return false;
  } catch (...) {
    return false;
  }
}

class RequestHandler : public Poco::Net::HTTPRequestHandler {
 public:
  explicit RequestHandler(ModulePool& pool) : pool_(pool) {}

  void handleRequest(Poco::Net::HTTPServerRequest& req, Poco::Net::HTTPServerResponse& resp) override {
    resp.setKeepAlive(false);
    TWebRequest request;
    request.Method = req.getMethod();
    try {
      Poco::URI uri(req.getURI());
      request.PathInfo = uri.getPath();
      request.Query = uri.getRawQuery();
    } catch (const Poco::Exception&) {
      SendText(resp, 400, "Bad Request", "Bad Request");
      return;
    }
    if (request.PathInfo.empty()) request.PathInfo = "/";
    for (const auto& [name, value] : req) request.Headers.emplace_back(name, value);
    if (auto* impl = dynamic_cast<Poco::Net::HTTPServerRequestImpl*>(&req)) {
      Poco::Net::StreamSocket& socket = impl->socket();
      request.ClientConnected = [&socket] { return PeerConnected(socket); };
    }

    if (req.hasContentLength() && req.getContentLength64() > kMaxBodyBytes) {
      SendText(resp, 413, "Request Entity Too Large", "Request Entity Too Large");
      return;
    }
    // Reserve what is announced, up to 64 MiB before any byte has come.
    if (req.hasContentLength() && req.getContentLength64() > 0)
      request.Content.reserve(static_cast<size_t>(std::min<Poco::Int64>(req.getContentLength64(), 64 << 20)));
    ReadBody(req.stream(), request.Content);
    // A body shorter than announced is a broken request, not a short one.
    if (req.hasContentLength() && static_cast<Poco::Int64>(request.Content.size()) != req.getContentLength64())
      throw std::runtime_error("request body ended after " + std::to_string(request.Content.size()) + " of " +
                               std::to_string(req.getContentLength64()) + " bytes");

    ModulePool::Lease lease = pool_.Acquire();
    if (!lease) {
      SendText(resp, 503, "Service Unavailable", "Zu viele gleichzeitige Verbindungen");
      return;
    }
    TWebModul& module = *lease.get();
    struct AfterSend {
      TWebModul& m;
      ~AfterSend() { m.ResponseSent(); }
    } afterSend{module};

    TWebResponse response;
    module.HandleRequest(request, response);
    Send(resp, response);
  }

 private:
  static void ReadBody(std::istream& in, std::string& out) {
    char buf[65536];
    while (in) {
      in.read(buf, sizeof buf);
      const std::streamsize n = in.gcount();
      if (n <= 0) break;
      if (static_cast<std::streamsize>(out.size()) + n > kMaxBodyBytes)
        throw std::runtime_error("request body too large");
      out.append(buf, static_cast<size_t>(n));
    }
  }

  static void SetStatus(Poco::Net::HTTPServerResponse& resp, int status, const std::string& reason) {
    const auto code = static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status);
    if (reason.empty())
      resp.setStatusAndReason(code);
    else
      resp.setStatusAndReason(code, reason);
  }

  static void SendText(Poco::Net::HTTPServerResponse& resp, int status, const char* reason, const std::string& text) {
    SetStatus(resp, status, reason);
    resp.setContentType("text/plain; charset=utf-8");
    resp.setContentLength64(static_cast<Poco::Int64>(text.size()));
    resp.sendBuffer(text.data(), text.size());
  }

  static void Send(Poco::Net::HTTPServerResponse& resp, TWebResponse& response) {
    SetStatus(resp, response.StatusCode, response.ReasonPhrase);
    resp.setContentType(response.ContentType.empty() ? kDefaultContentType : response.ContentType);
    if (response.ContentStream) {
      resp.setChunkedTransferEncoding(true);
      std::ostream& out = resp.send();
      response.ContentStream(out);
      out.flush();
    } else {
      resp.setContentLength64(static_cast<Poco::Int64>(response.Content.size()));
      resp.sendBuffer(response.Content.data(), response.Content.size());
    }
  }

  ModulePool& pool_;
};

class HandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
 public:
  explicit HandlerFactory(ModulePool& pool) : pool_(pool) {}
  Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override {
    return new RequestHandler(pool_);
  }

 private:
  ModulePool& pool_;
};

// Open connections, so that Stop can end the idle ones.
class ConnectionRegistry;

// One accepted connection: counted while it lives; exceptions that escape
// the HTTP layer are logged here.
class Connection : public Poco::Net::HTTPServerConnection {
 public:
  Connection(const Poco::Net::StreamSocket& socket, Poco::Net::HTTPServerParams::Ptr params,
             Poco::Net::HTTPRequestHandlerFactory::Ptr factory, ServerContext& context,
             ConnectionRegistry& registry);
  ~Connection() override;

  void run() override {
    Logger log;
    try {
      HTTPServerConnection::run();
    } catch (const Poco::Exception& e) {
      log.LogError("HTTP-Server-Exception: " + e.displayText());
    } catch (const std::exception& e) {
      log.LogError(std::string("HTTP-Server-Exception: ") + e.what());
    } catch (...) {
      log.LogError("HTTP-Server-Exception: unknown exception");
    }
  }

  // Ends the connection once its current request (if any) is answered.
  void StopAfterRequest() { onServerStopped(false); }

 private:
  void Refresh() {
    if (context_.PostRefreshUI && !context_.Session0) {
      try {
        context_.PostRefreshUI();
      } catch (...) {
      }
    }
  }
  ServerContext& context_;
  ConnectionRegistry& registry_;
};

class ConnectionRegistry {
 public:
  void Add(Connection* c) {
    std::lock_guard lock(mutex_);
    open_.insert(c);
  }
  void Remove(Connection* c) {
    std::lock_guard lock(mutex_);
    open_.erase(c);
  }
  void StopAll() {
    std::lock_guard lock(mutex_);
    for (Connection* c : open_) c->StopAfterRequest();
  }

 private:
  std::mutex mutex_;
  std::set<Connection*> open_;
};

Connection::Connection(const Poco::Net::StreamSocket& socket, Poco::Net::HTTPServerParams::Ptr params,
                       Poco::Net::HTTPRequestHandlerFactory::Ptr factory, ServerContext& context,
                       ConnectionRegistry& registry)
    : HTTPServerConnection(socket, params, factory), context_(context), registry_(registry) {
  registry_.Add(this);
  context_.OpenConnections.fetch_add(1);
  Refresh();
}

Connection::~Connection() {
  registry_.Remove(this);
  context_.OpenConnections.fetch_sub(1);
  Refresh();
}

class ConnectionFactory : public Poco::Net::TCPServerConnectionFactory {
 public:
  ConnectionFactory(Poco::Net::HTTPServerParams::Ptr params, Poco::Net::HTTPRequestHandlerFactory::Ptr factory,
                    ServerContext& context, ConnectionRegistry& registry)
      : params_(params), factory_(factory), context_(context), registry_(registry) {}
  Poco::Net::TCPServerConnection* createConnection(const Poco::Net::StreamSocket& socket) override {
    return new Connection(socket, params_, factory_, context_, registry_);
  }

 private:
  Poco::Net::HTTPServerParams::Ptr params_;
  Poco::Net::HTTPRequestHandlerFactory::Ptr factory_;
  ServerContext& context_;
  ConnectionRegistry& registry_;
};

int ParsePort(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  while (!t.empty() && t.back() == ' ') t.pop_back();
  int port = -1;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), port);
  if (ec != std::errc() || p != t.data() + t.size() || port < 0 || port > 65535)
    throw std::runtime_error("'" + text + "' is not a valid integer value");
  return port;
}

}  // namespace

struct TWebServer::Impl {
  explicit Impl(ServerContext& c) : context(c), pool(c) {}
  ServerContext& context;
  ModulePool pool;
  ConnectionRegistry registry;
  std::unique_ptr<Poco::ThreadPool> threads;
  std::unique_ptr<Poco::Net::TCPServer> server;
  TDatabaseHold hold;
  int port = 0;
  mutable std::mutex mutex;
};

TWebServer::TWebServer(ServerContext& context) : impl_(std::make_unique<Impl>(context)) {}

TWebServer::~TWebServer() {
  Stop();
}

void TWebServer::Start() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->server) return;
  const int port = ParsePort(Konfiguration().TarvoServerPort.get());
  try {
    Poco::Net::ServerSocket socket;
    socket.bind(Poco::Net::SocketAddress(Poco::Net::IPAddress(), static_cast<Poco::UInt16>(port)), true, false);
    socket.listen(128);
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setKeepAlive(false);
    params->setMaxThreads(kMaxThreads);
    params->setMaxQueued(kMaxQueued);
    params->setTimeout(Poco::Timespan(30, 0));
    params->setServerName("tarvoserver");
    auto threads = std::make_unique<Poco::ThreadPool>("tarvo-http", 4, kMaxThreads + 4, 60);
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers = new HandlerFactory(impl_->pool);
    auto server = std::make_unique<Poco::Net::TCPServer>(
        new ConnectionFactory(params, handlers, impl_->context, impl_->registry), *threads, socket, params);
    impl_->pool.ResetFigures();
    server->start();
    impl_->port = socket.address().port();
    impl_->threads = std::move(threads);
    impl_->server = std::move(server);
    impl_->hold.Start();
  } catch (const Poco::Exception& e) {
    throw std::runtime_error(e.displayText());
  }
}

void TWebServer::Stop() {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->server) return;
  impl_->server->stop();
  impl_->registry.StopAll();
  impl_->threads->joinAll();
  impl_->server.reset();
  impl_->threads.reset();
  impl_->pool.Clear();
  impl_->hold.Stop();
  impl_->port = 0;
}

bool TWebServer::Active() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->server != nullptr;
}

int TWebServer::Port() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->port;
}

int TWebServer::PeakBusyModules() const {
  return impl_->pool.Peak();
}

int TWebServer::RefusedRequests() const {
  return impl_->pool.Refused();
}

int64_t TWebServer::HeldAttachmentId() const { return impl_->hold.AttachmentId(); }

}  // namespace tarvo::server
