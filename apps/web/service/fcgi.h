#pragma once
// FastCGI listener: accepts connections, keeps the table of requests with complete input,
// and deletes finished requests between loop turns.
#include <map>
#include <vector>

#include "apps/common/event/eventpoll.h"

class Request;

class Fcgi : public EventPoll::Callback {
 public:
  class RequestCallback {
   public:
    virtual void handleRequest(Request* request) = 0;

   protected:
    ~RequestCallback() = default;
  };

  static constexpr int kPort = 9000;
  static constexpr size_t kMaxRequests = 32;

  Fcgi(int port, EventPoll& poll);
  explicit Fcgi(EventPoll& poll);
  ~Fcgi();
  Fcgi(const Fcgi&) = delete;
  Fcgi& operator=(const Fcgi&) = delete;

  void event(EventType type) override;
  void addRequest(Request* request);
  void removeRequest(Request* request);
  void cleanup();
  Request* request(unsigned int id) const;
  // Walked in ascending id order by the handler's periodic passes; changed only by the listener.
  const std::map<unsigned int, Request*>& requests() const { return table; }

  RequestCallback* requestCallback = nullptr;

 private:
  int listenFd = -1;
  unsigned int nextId = 0;
  std::map<unsigned int, Request*> table;
  std::vector<unsigned int> pending;
  EventPoll& poll;
};
