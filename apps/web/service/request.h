#pragma once
// One accepted FastCGI connection and the request currently served on it.
#include <sys/uio.h>

#include <any>
#include <chrono>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "apps/common/event/eventpoll.h"

class Fcgi;

class Request : public EventPoll::Callback {
 public:
  // Largest content of one record sent: the largest multiple of 8 below 65536.
  static constexpr unsigned int kMaxContent = 65528;
  // output() sends what it holds once it has passed this many bytes.
  static constexpr size_t kFlushThreshold = 8192;

  Request(Fcgi* fcgi, int fd, unsigned int id);
  virtual ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  void event(EventType type) override;

  // Handler side.
  std::stringstream& output();
  void writeHeader(const char* head);
  void sendOutput();
  void sendError();
  void end();
  uint16_t fcgiRequestId() const;  // of the current request, echoed in every record sent
  bool isOpen() const { return fd >= 0; }
  // Output the socket has not taken yet; it leaves as the peer reads, while the loop serves others.
  size_t unsentBytes() const { return unsent.size() - unsentFrom; }

  std::map<std::string, std::string> params;
  // A parameter's value, empty when the request has none; unlike params[name] it adds no entry.
  const std::string& param(const char* name) const;
  std::string postData;
  std::any userData;
  const unsigned int id;

  // Protocol side (public for the listener and for tests).
  // Reads what the socket holds without waiting and processes every record that is whole; a record
  // received in part is kept until the rest arrives. 1 when at least one record was processed.
  int readRecord();
  void begin(unsigned short requestId, bool keepConn);
  void addParams(unsigned char* data, int length);
  void addParam(const std::string& name, const std::string& value);
  static int getLength(unsigned char*& data, int& remaining);
  void appendPostData(unsigned char* data, int length);
  int writeRecord(const char* data, unsigned int length);
  int close();

 private:
  friend class Fcgi;

  // Where the connection stands in its current request: parameters and input are taken only
  // between BEGIN_REQUEST and the end of STDIN, so a request reaches the handler once.
  enum class Phase { Idle, Reading, Serving };
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
  void dropInput();
  void setParam(std::string_view name, std::string_view value);
  // Leaves in params exactly what the current request sent; called when its parameters are complete.
  void finishParams();
  void keepOnlyMatchedParams();
  // Sizes postData once from the announced length, so a large upload is not held twice while it grows.
  void reserveForBody();
  static constexpr unsigned long long kMaxBodyReserve = 256ull << 20;
  void sendStream(std::stringstream& stream, unsigned char type);
  int sendRecord(const char* data, size_t length);
  bool queueRecord(Gather& gather, unsigned char type, const char* data, size_t length);
  bool flush(Gather& gather);
  bool sendAll(iovec* parts, int count);
  bool keepUnsent(const iovec* parts, int count);
  void sendUnsent();
  // A write that failed or made no progress for too long: the answer is abandoned and the
  // connection shut down, so the peer's hang-up removes it.
  void abandonOutput();
  bool outputStalled(std::chrono::steady_clock::time_point now) const;

  Fcgi* fcgi;
  int fd;
  bool keepConn = true;
  bool headerWritten = false;
  bool registered = false;  // with the poll; kept by the listener
  bool removed = false;     // awaits deletion; kept by the listener
  Phase phase = Phase::Idle;
  uint16_t requestId = 0;
  unsigned char recordType = 0;  // type of the records writeRecord sends
  // Input received but not processed: a record in part, or records behind an answer that waits.
  std::string partial;
  std::string unsent;  // whole records written, of which the socket took unsentFrom bytes
  size_t unsentFrom = 0;
  std::chrono::steady_clock::time_point lastProgress;
  bool closeWhenSent = false;  // the answer ended without FCGI_KEEP_CONN while output was unsent
  std::stringstream out;
  std::stringstream err;
  // The entries of params in the order the client sent them. A client sends the same names in the same
  // order on every request of a connection: each is then matched with one comparison and its value
  // stored in place, without allocating. Of the current request, the first paramsMatched are confirmed.
  std::vector<std::map<std::string, std::string>::iterator> paramOrder;
  size_t paramsMatched = 0;
  bool paramsInOrder = true;
};
