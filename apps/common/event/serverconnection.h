#pragma once
// Client side of the message broker: readiness wait, connect, post and receive Notify records.
#include <cstddef>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/eventsink.h"
#include "apps/common/event/notify.h"

class ServerConnection : public EventPoll::Callback, public EventSink {
 public:
  class EventHandler {
   public:
    virtual void handleEvent(Notify const& notify) = 0;

   protected:
    ~EventHandler() = default;
  };

  explicit ServerConnection(EventPoll& poll);
  virtual ~ServerConnection();
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  void event(EventType type) override;
  void connect();
  void close();
  void postEvent(Notify const& notify) override;
  void subscribe(Notify const& notify);
  void subscribeAll();
  // Reads whole records from fd into buffer (at most max); a partial record stays for the next call.
  // -1 when the broker has closed the stream.
  int readEvents(int fd, Notify* buffer, int max);

  EventHandler* eventHandler = nullptr;
  // Names events in the log; the names belong to the catalogue, which start-up sets here.
  const char* (*eventNamer)(Notify notify) = nullptr;

 private:
  EventPoll& poll;
  int fd = -1;
  unsigned char partial[sizeof(Notify)] = {};
  size_t partialLength = 0;
};

extern ServerConnection* gServerConnection;
