#pragma once
// One accepted FastCGI connection: reads its records, hands each request it carries to the listener,
// and sends the records of the answer as the peer takes them.
#include <sys/uio.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "apps/common/event/eventpoll.h"
#include "apps/web/service/request.h"

class Fcgi;

class Connection : public EventPoll::Callback {
 public:
  Connection(Fcgi* fcgi, int fd, unsigned int id);
  virtual ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void event(EventType type) override;

  // The request this connection carries now; a kept connection carries its next one in the same object.
  Request& request() { return current; }
  bool isOpen() const { return fd >= 0; }
  // A request in progress, from its complete input until its answer has left, holds one of the
  // listener's places; a connection between requests holds none.
  // An answer the peer has not taken holds it as well, here or in the kernel's send queue: a reader that
  // does not read cannot make the service take on more answers than it has places.
  bool holdsPlace() const {
    return !removed && (phase == Phase::Serving || unsentBytes() > 0 || streaming || kernelQueued() > 0);
  }
  // Between requests, or in a request whose input has not come: the connection waits on its peer.
  bool waitsOnPeer() const {
    return fd >= 0 && !removed && (phase == Phase::Idle || phase == Phase::Reading) && unsentBytes() == 0 && !streaming;
  }
  size_t unsentBytes() const { return unsent.size() - unsentFrom; }

  // Sending, for the request.
  void sendStdout(std::string_view text);
  void sendStderr(std::string_view text);
  // The answer's last output and the end record, in one write.
  void endRequest(std::string_view output, std::string_view errors);
  // Sends the request's body source as the peer takes it, then ends the request.
  void streamThenEnd();
  // The connection closes once the current answer has gone, whatever the peer asked for.
  void closeAfterAnswer() { keepConn = false; }

  int close();

  // Written but not yet sent: the part of the kernel's send queue the peer has no room for.
  size_t kernelQueued() const;

 private:
  friend class Fcgi;

  // Where the connection stands in its current request: parameters and input are taken only
  // between BEGIN_REQUEST and the end of STDIN, so a request reaches the handler once.
  // Queued: the input is complete, and the request waits for a place in the listener's table.
  enum class Phase { Idle, Reading, Queued, Serving };
  enum class Input { Processed, Nothing, Closed };

  // Records sent together are gathered into as few writes as possible.
  struct Gather {
    static constexpr int kMaxRecords = 16;
    unsigned char headers[kMaxRecords][8];
    iovec parts[kMaxRecords * 3];
    int records = 0;
    int count = 0;
  };

  Input receive();
  Input receiveRest();
  Input processRecords(const unsigned char* data, size_t size);
  void readInput();
  bool processRecord(const unsigned char* record);
  bool dispatchRecord(const unsigned char* record);
  void begin(uint16_t requestId, bool keepConn);
  // Management records and refusals, sent whatever request the connection carries.
  void answerValues(const unsigned char* body, size_t length);
  void sendManagement(unsigned char type, uint16_t requestId, const unsigned char* body, size_t length);
  void abortRequest();
  void paramsComplete();
  void bodyComplete();
  void refuseBody();
  // Waited too long for a place: answered at once that the service is busy.
  void refuseBusy();
  void dropInput();
  void finish();
  int sendRecord(unsigned char type, const char* data, size_t length);
  bool queueRecord(Gather& gather, unsigned char type, uint16_t requestId, const char* data, size_t length);
  bool flush(Gather& gather);
  bool sendAll(iovec* parts, int count);
  bool keepUnsent(const iovec* parts, int count);
  void sendUnsent();
  // Sends pieces of the body source while the socket takes them; ends the request at its end.
  void pumpSource();
  // A write that failed or made no progress for too long: the answer is abandoned and the
  // connection shut down, so the peer's hang-up removes it.
  void abandonOutput();
  bool outputStalled(std::chrono::steady_clock::time_point now);

  Fcgi* fcgi;
  int fd;
  Request current;
  bool keepConn = true;
  bool registered = false;  // with the poll; kept by the listener
  bool removed = false;     // awaits deletion; kept by the listener
  bool streaming = false;   // the answer's body comes from the request's source
  Phase phase = Phase::Idle;
  bool paramsDone = false;
  // Input received but not processed: a record in part, or records behind an answer that waits.
  std::string partial;
  std::string unsent;  // whole records written, of which the socket took unsentFrom bytes
  size_t unsentFrom = 0;
  std::chrono::steady_clock::time_point lastProgress;
  size_t lastQueued = 0;                           // what the peer had not taken when last looked at
  std::chrono::steady_clock::time_point queuedAt;  // entered the listener's queue
  // The peer's last input, or the end of the last answer: how long the connection has waited on its peer.
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
  bool closeWhenSent = false;  // the answer ended without FCGI_KEEP_CONN while output was unsent
};
