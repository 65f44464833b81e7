#pragma once
// One FastCGI request as a handler sees it: its parameters, its body, and the answer written to it.
// The connection that carries it (connection.h) reads the records and sends what the request writes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

class Connection;

// What a request that is not answered at once waits for; the handler's periodic passes answer it.
enum class Waits { Nothing, Update, Log };

// Takes a request's body piece by piece as its records arrive, so that a large body never sits in
// memory. Whatever the sink holds is released with it; one that is never told the body is complete
// (the client went away) must leave nothing behind.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // The next piece of the body. False when the sink takes no more: the rest of the body is skipped.
  virtual bool take(std::string_view piece) = 0;
};

// Takes nothing: for a request whose answer is known before its body comes.
class SkippedBody : public BodySink {
 public:
  bool take(std::string_view) override { return false; }
};

// Sends an answer's body in pieces as the connection drains, instead of holding it whole.
class BodySource {
 public:
  virtual ~BodySource() = default;
  // Fills up to `size` bytes; 0 at the end, -1 when the body cannot be read on.
  virtual long long read(char* buffer, size_t size) = 0;
};

class Request {
 public:
  // Largest content of one record sent: the largest multiple of 8 below 65536.
  static constexpr unsigned int kMaxContent = 65528;
  // output() sends what it holds once it has passed this many bytes.
  static constexpr size_t kFlushThreshold = 8192;
  // A body that no sink takes is held in postData up to this size; a larger one is refused.
  static constexpr size_t kMaxHeldBody = 1 << 20;

  Request(Connection* connection, unsigned int id);
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // The answer.
  std::stringstream& output();
  void writeHeader(const char* head);
  void sendOutput();
  void sendError();
  // Finishes the answer; with a body source, once the source is exhausted.
  void end();
  // Finishes the answer and closes the connection after it, though the client asked to keep it: for an
  // answer that tells the client to come back later, whose place is wanted now.
  void endAndClose();
  // The rest of the answer's body comes from `source`, sent as the peer takes it; call before end().
  void sendFrom(std::unique_ptr<BodySource> source);
  uint16_t fcgiRequestId() const { return requestId; }  // of the current request, echoed in every record
  bool isOpen() const;
  // Output the socket has not taken yet; it leaves as the peer reads, while the loop serves others.
  size_t unsentBytes() const;

  // The input.
  std::map<std::string, std::string> params;
  // A parameter's value, empty when the request has none; unlike params[name] it adds no entry.
  const std::string& param(const char* name) const;
  void addParam(const std::string& name, const std::string& value);
  // The body, when no sink takes it.
  std::string postData;
  // Hands the body to `sink` as it arrives; called by a route when the parameters are complete.
  void streamBodyTo(std::unique_ptr<BodySink> sink);
  BodySink* bodySink() const { return sink.get(); }

  Waits waits = Waits::Nothing;
  // The change sequence an update waiter asks from; none for a client that takes each pass's changes.
  std::optional<uint64_t> since;
  // When it began waiting, in the handler's count: the oldest waiter is the one answered early.
  uint64_t waitOrder = 0;
  const unsigned int id;

  // Decodes one PARAMS record's content. The pairs form one stream over all PARAMS records of the
  // request: a pair cut between two records is completed by the next (public for tests).
  void addParams(const unsigned char* data, int length);
  // A pair longer than this (name and value together) ends the decoding of its record.
  static constexpr size_t kMaxParamPair = 1 << 20;
  using PairTaker = std::function<void(std::string_view name, std::string_view value)>;
  // Hands each whole name-value pair at the start of one record's content to `take`: the bytes they
  // took (the rest is a pair cut short), or nothing when a malformed pair ends the record.
  static std::optional<size_t> decodePairs(const unsigned char* data, size_t size, const PairTaker& take);

 private:
  friend class Connection;

  // Starts the next request on the connection: the previous one's parameters stay until this one's
  // are complete (finishParams), so that names sent again are stored in place.
  void begin(uint16_t newRequestId);
  void setParam(std::string_view name, std::string_view value);
  // Completes the pair carried over from the previous record; returns the bytes taken, or none
  // left to take when the pair turned out malformed (the rest of the record is skipped).
  std::optional<size_t> continueCarriedPair(const unsigned char* data, size_t size);
  // Leaves in params exactly what the current request sent; called when its parameters are complete.
  void finishParams();
  void keepOnlyMatchedParams();
  // A piece of the body: to the sink, or held in postData within its bound (beyond it, bodyTooLarge).
  void receiveBody(std::string_view piece);
  // Releases the body and its sink, and any body source: the request is over or its client gone.
  void dropBody();
  void resetOutput();

  Connection* connection;
  uint16_t requestId = 0;
  bool headerWritten = false;
  bool sinkRefused = false;  // the sink takes no more; the rest of the body is skipped
  bool bodyTooLarge = false;
  std::unique_ptr<BodySink> sink;
  std::unique_ptr<BodySource> source;
  std::stringstream out;
  std::stringstream err;
  // The entries of params in the order the client sent them. A client sends the same names in the same
  // order on every request of a connection: each is then matched with one comparison and its value
  // stored in place, without allocating. Of the current request, the first paramsMatched are confirmed.
  std::vector<std::map<std::string, std::string>::iterator> paramOrder;
  size_t paramsMatched = 0;
  bool paramsInOrder = true;
  // The start of a pair that the previous PARAMS record cut off.
  std::string carriedPair;
};
