#pragma once
// FastCGI listener: accepts connections, keeps the table of requests with complete input,
// and deletes finished requests between loop turns.
#include <chrono>
#include <deque>
#include <map>
#include <vector>

#include "apps/common/event/eventpoll.h"

class Connection;
class Request;

class Fcgi final : public EventPoll::Callback {
 public:
  class RequestCallback {
   public:
    // Called once the parameters are complete, before any of the body: a route that takes large
    // bodies hands the request a sink here (Request::streamBodyTo).
    virtual void handleParams(Request* request) { (void)request; }
    virtual void handleRequest(Request* request) = 0;

   protected:
    ~RequestCallback() = default;
  };

  static constexpr int kPort = 9000;
  static constexpr size_t kMaxRequests = 32;
  // Descriptors kept for the service's own files, pipes and children: a download holds one for each
  // request in progress, and the log's child, uploads and listings need a few more.
  static constexpr int kReservedDescriptors = static_cast<int>(kMaxRequests) + 16;
  // The send buffer asked for each connection (the kernel accounts twice this).
  static constexpr int kSendBuffer = 128 * 1024;

  Fcgi(int port, EventPoll& poll);
  explicit Fcgi(EventPoll& poll);
  ~Fcgi();
  Fcgi(const Fcgi&) = delete;
  Fcgi& operator=(const Fcgi&) = delete;

  void event(EventType type) override;
  void paramsComplete(Connection* connection);
  void addRequest(Connection* connection);
  void removeRequest(Connection* connection);
  void removeRequest(Request* request);
  // Deletes removed requests and gives up connections whose peer has stopped taking its answer.
  void cleanup();
  // Deletes removed requests and lets go of table entries between requests; cheap enough for every turn
  // of the loop, and never called inside a callback (or a walk of the table).
  void deleteRemoved();
  // While its answer waits for the peer, a connection is watched for writability and not read, so
  // a peer that sends requests but never reads cannot pile answers up.
  void watchOutput(Connection* connection, bool waiting);
  Request* request(unsigned int id) const;
  // Walked in ascending id order by the handler's periodic passes; changed only by the listener.
  const std::map<unsigned int, Request*>& requests() const { return table; }
  // The port the listener is bound to (tests bind port 0).
  int port() const;
  // Places taken of the kMaxRequests: requests in progress, not connections between requests.
  size_t placesTaken() const;
  // Connections served at once at most: the descriptors the process may open, less its own reserve.
  size_t maxConnections() const;

  RequestCallback* requestCallback = nullptr;
  // A connection that waits on its peer this long is closed (tests shorten it).
  std::chrono::milliseconds idleBound{60000};
  // A request whose input is complete while every place is taken waits this long for one, then is
  // refused (tests shorten it).
  std::chrono::milliseconds queueBound{10000};

 private:
  int listenFd = -1;
  unsigned int nextId = 0;
  std::map<unsigned int, Request*> table;
  // Every connection not yet deleted, also those still reading their first request.
  std::map<unsigned int, Connection*> connections;
  std::vector<unsigned int> pending;
  // Requests with complete input that wait for a place, oldest first.
  std::deque<unsigned int> queued;
  EventPoll& poll;
  bool acceptPaused = false;

  void listenOn(int fd);
  void serveFirst(Connection* connection);
  void acceptFailed(int error);
  // Makes room for a connection accepted while descriptors run short, or stops accepting until cleanup.
  bool makeRoom(int fd);
  void pauseAccepting();
  void abandonStalledOutput();
  bool evictOldestIdle();
  void closeIdle();
  void enter(Connection* connection);
  void admitQueued();
};
