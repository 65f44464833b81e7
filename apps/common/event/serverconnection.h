#pragma once
// Client side of the message broker: readiness wait, connect, post and receive Notify records, and
// the way back when the broker goes away or stops reading. The loop never waits for the broker:
// records it has not taken yet are held, and a lost connection is tried again from a timer.
#include <chrono>
#include <cstddef>
#include <string>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/eventsink.h"
#include "apps/common/event/notify.h"
#include "apps/common/event/polltimer.h"

class ServerConnection : public EventPoll::Callback, public EventSink {
 public:
  class EventHandler {
   public:
    virtual void handleEvent(Notify const& notify) = 0;
    // The connection is back after a loss, subscribed again. While it was away the unit's other
    // processes may have changed values unheard, so what was derived from their events is stale.
    virtual void brokerReturned() {}

   protected:
    ~EventHandler() = default;
  };

  // Records a broker that does not read may leave waiting; past that the connection is dropped and
  // made again, as the broker does with its own slow clients.
  static constexpr size_t kMaxPendingBytes = 48 * 1024;
  // What is held for a connection that is away: only changes already stored before the loss was seen.
  static constexpr size_t kMaxHeldBytes = 4 * kMaxPendingBytes;
  static constexpr std::chrono::milliseconds kFirstRetry{500};
  static constexpr std::chrono::milliseconds kLastRetry{2000};

  // Waits for the broker and connects; throws on failure. Start-up only: this wait blocks.
  explicit ServerConnection(EventPoll& poll);
  virtual ~ServerConnection();
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  void event(EventType type) override;
  void connect();
  // Orderly disconnect: what is held goes out if the broker takes it within a short wait.
  void close();
  // Queues the record and sends what the socket takes; while away the record waits for the return.
  void postEvent(Notify const& notify) override;
  std::string refusal() const override;
  void subscribe(Notify const& notify);
  void subscribeAll();
  // Reads whole records from fd into buffer (at most max); a partial record stays for the next call.
  // -1 when the broker has closed the stream.
  int readEvents(int fd, Notify* buffer, int max);

  bool connected() const { return fd >= 0; }
  size_t heldBytes() const { return pending.size() - sent; }

  EventHandler* eventHandler = nullptr;
  // Names events in the log; the names belong to the catalogue, which start-up sets here.
  const char* (*eventNamer)(Notify notify) = nullptr;

 private:
  // errno of a failed attempt, with the step that failed; 0 when connected.
  int tryConnect(const char** step);
  void queue(const void* data, size_t length);
  // Sends what the socket takes; false when the connection failed (errno tells why).
  bool sendHeld();
  void flush();
  int receive();
  void lose(const std::string& reason);
  void retry();

  EventPoll& poll;
  int fd = -1;
  unsigned char partial[sizeof(Notify)] = {};
  size_t partialLength = 0;
  // Whole records not yet taken by the broker; the first `sent` bytes of them already were.
  std::string pending;
  size_t sent = 0;
  bool watchingOutput = false;
  // Why the connection is away; empty while connected.
  std::string lostBecause;
  PollTimer retryTimer;
  std::chrono::milliseconds retryDelay = kFirstRetry;
  unsigned failedAttempts = 0;
};

extern ServerConnection* gServerConnection;
