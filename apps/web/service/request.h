#pragma once
// One accepted FastCGI connection and the request currently served on it.
#include <any>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "apps/common/event/eventpoll.h"

class Fcgi;

class Request : public EventPoll::Callback {
 public:
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

  std::map<std::string, std::string> params;
  std::string postData;
  std::any userData;
  const unsigned int id;

  // Protocol side (public for the listener and for tests).
  int readRecord();
  void begin(unsigned short requestId, bool keepConn);
  void addParams(unsigned char* data, int length);
  void addParam(const std::string& name, const std::string& value);
  static int getLength(unsigned char*& data, int& remaining);
  void appendPostData(unsigned char* data, int length);
  int writeRecord(const char* data, unsigned int length);
  int close();

 private:
  Fcgi* fcgi;
  int fd;
  bool keepConn = true;
  bool headerWritten = false;
  std::stringstream out;
  std::stringstream err;
  unsigned char header[8] = {1, 0, 0, 0, 0, 0, 0, 0};
};
