#pragma once
// The record types of the FastCGI wire protocol, shared by the responder and the project's client.
#include <cstdint>

enum FcgiRecordType : uint8_t {
  kBeginRequest = 1,
  kAbortRequest = 2,
  kEndRequest = 3,
  kParams = 4,
  kStdin = 5,
  kStdout = 6,
  kStderr = 7,
  kData = 8,
  kGetValues = 9,
  kGetValuesResult = 10,
  kUnknownType = 11,
};

// The protocol status of an END_REQUEST record.
enum FcgiProtocolStatus : uint8_t {
  kRequestComplete = 0,
  kCantMultiplexConnection = 1,
};
