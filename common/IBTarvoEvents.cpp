// Database events over isc_que_events.
//
// The client library calls the AST routine on a thread of its own. The AST
// only copies the updated counts and wakes the listener's thread; that
// thread computes the differences (isc_event_counts), calls the callback and
// queues the block again. Every client-library call of the listener's
// attachment happens either in Start (before the thread runs) or on the
// listener's thread, so they never overlap. The event blocks stay allocated
// until the thread has cancelled the registration and detached, after which
// the library calls no AST any more.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "common/Codepage.h"
#include "common/IBTarvo.h"
#include "common/IBTarvoDetail.h"

namespace tarvo::db {

namespace {

constexpr size_t kNamesPerBlock = 15;  // what one event block can carry
constexpr auto kInitialDeliveryTimeout = std::chrono::seconds(10);

}  // namespace

struct TIBREventListener::Impl {
  struct Block {
    Impl* owner = nullptr;
    std::vector<std::string> names;    // UTF-8, as given
    std::vector<std::string> encoded;  // as sent to the server
    ISC_UCHAR* eventBuffer = nullptr;
    ISC_UCHAR* resultBuffer = nullptr;
    short length = 0;
    ISC_LONG id = 0;
    bool queued = false;
    bool fired = false;  // guarded by owner->mutex

    ~Block() {
      if (eventBuffer) isc_free(reinterpret_cast<ISC_SCHAR*>(eventBuffer));
      if (resultBuffer) isc_free(reinterpret_cast<ISC_SCHAR*>(resultBuffer));
    }
  };

  std::string connection;
  std::vector<std::string> names;
  Callback onEvent;

  std::mutex mutex;
  std::condition_variable wake;
  bool stopRequested = false;
  std::atomic<bool> running{false};

  detail::Attachment attachment;
  std::vector<std::unique_ptr<Block>> blocks;
  std::thread worker;

  static void Ast(void* arg, ISC_USHORT length, const ISC_UCHAR* updated) {
    auto* block = static_cast<Block*>(arg);
    std::lock_guard lock(block->owner->mutex);
    if (updated && length && block->resultBuffer)
      std::memcpy(block->resultBuffer, updated,
                  std::min<size_t>(length, static_cast<size_t>(block->length)));
    block->fired = true;
    block->owner->wake.notify_all();
  }

  void BuildBlocks() {
    for (size_t start = 0; start < names.size(); start += kNamesPerBlock) {
      auto block = std::make_unique<Block>();
      block->owner = this;
      const size_t end = std::min(names.size(), start + kNamesPerBlock);
      for (size_t i = start; i < end; ++i) {
        block->names.push_back(names[i]);
        block->encoded.push_back(Utf8ToCp1252(names[i]));
      }
      const char* p[kNamesPerBlock] = {};
      for (size_t i = 0; i < block->encoded.size(); ++i) p[i] = block->encoded[i].c_str();
      const ISC_LONG length = isc_event_block(
          &block->eventBuffer, &block->resultBuffer, static_cast<ISC_USHORT>(block->encoded.size()),
          p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11], p[12], p[13],
          p[14]);
      if (length <= 0 || !block->eventBuffer || !block->resultBuffer)
        throw EDatabaseError("Could not build the event block");
      block->length = static_cast<short>(length);
      blocks.push_back(std::move(block));
    }
  }

  void Queue(Block& block) {
    ISC_STATUS_ARRAY status{};
    if (isc_que_events(status, attachment.Handle(), &block.id, block.length, block.eventBuffer,
                       &Impl::Ast, &block)) {
      block.queued = false;
      detail::Throw(status, "Register events");
    }
    block.queued = true;
  }

  // Counts since the last call for a fired block, as (name, count) pairs.
  std::vector<std::pair<std::string, long>> TakeCounts(Block& block) {
    ISC_ULONG counts[kNamesPerBlock] = {};
    isc_event_counts(counts, block.length, block.eventBuffer, block.resultBuffer);
    block.fired = false;
    block.queued = false;  // an AST ends a registration
    std::vector<std::pair<std::string, long>> out;
    for (size_t i = 0; i < block.names.size(); ++i)
      if (counts[i]) out.emplace_back(block.names[i], static_cast<long>(counts[i]));
    return out;
  }

  void CancelAndDetach() noexcept {
    for (auto& block : blocks) {
      if (!block->queued) continue;
      ISC_STATUS_ARRAY status{};
      isc_cancel_events(status, attachment.Handle(), &block->id);
      block->queued = false;
    }
    attachment.Detach();
  }

  void Run() {
    for (;;) {
      std::vector<std::pair<std::string, long>> deliveries;
      std::vector<Block*> fired;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] {
          return stopRequested ||
                 std::any_of(blocks.begin(), blocks.end(), [](auto& b) { return b->fired; });
        });
        if (stopRequested) break;
        for (auto& block : blocks) {
          if (!block->fired) continue;
          auto counts = TakeCounts(*block);
          deliveries.insert(deliveries.end(), counts.begin(), counts.end());
          fired.push_back(block.get());
        }
      }
      for (const auto& [name, count] : deliveries) {
        {
          std::lock_guard lock(mutex);
          if (stopRequested) break;
        }
        try {
          onEvent(name, count);
        } catch (...) {
          // A failing callback must not end the listener.
        }
      }
      try {
        for (Block* block : fired) Queue(*block);
      } catch (const EDatabaseError&) {
        break;  // the connection is gone; Running() turns false
      }
    }
    CancelAndDetach();
    running = false;
  }

  void Start() {
    if (worker.joinable()) {
      if (running) return;
      Join();  // a listener whose connection died: clean up before restarting
    }
    stopRequested = false;
    attachment.Attach(connection);
    try {
      BuildBlocks();
      for (auto& block : blocks) Queue(*block);
      // The first delivery of each block reports the counts as they stand:
      // it is not an event. Wait for it, so that every post after Start
      // returns is reported.
      {
        std::unique_lock lock(mutex);
        const bool all = wake.wait_for(lock, kInitialDeliveryTimeout, [this] {
          return std::all_of(blocks.begin(), blocks.end(), [](auto& b) { return b->fired; });
        });
        if (!all) throw EDatabaseError("The database server did not confirm the event registration");
        for (auto& block : blocks) TakeCounts(*block);
      }
      for (auto& block : blocks) Queue(*block);
    } catch (...) {
      CancelAndDetach();
      blocks.clear();
      throw;
    }
    running = true;
    worker = std::thread([this] { Run(); });
  }

  void Join() noexcept {
    if (worker.joinable()) worker.join();
    blocks.clear();
  }

  void Stop() noexcept {
    {
      std::lock_guard lock(mutex);
      stopRequested = true;
    }
    wake.notify_all();
    if (worker.joinable() && worker.get_id() == std::this_thread::get_id()) return;  // from the callback
    Join();
    running = false;
  }
};

TIBREventListener::TIBREventListener(std::string connection, std::vector<std::string> names,
                                     Callback onEvent)
    : impl_(std::make_unique<Impl>()) {
  impl_->connection = std::move(connection);
  impl_->names = std::move(names);
  impl_->onEvent = std::move(onEvent);
}

TIBREventListener::~TIBREventListener() { impl_->Stop(); }

void TIBREventListener::Start() { impl_->Start(); }
void TIBREventListener::Stop() { impl_->Stop(); }
bool TIBREventListener::Running() const { return impl_->running; }

}  // namespace tarvo::db
