#pragma once
// Conveniences for tests of the variable API against a service running in a Sandbox.
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/integration/sandbox_harness.h"
#include "tools/fcgi-client/fcgiclient.h"

inline const char* const kSet = "/api/v1/set.cgi";

// A keep-alive FastCGI client on the service's port, once the service listens.
std::unique_ptr<fcgiclient::FcgiClient> connectService(const Sandbox& unit);

// One request on the connection; the answer's body after its head ("" when it did not end).
std::string call(fcgiclient::FcgiClient& client, const std::string& script, const std::string& body,
                 uint16_t requestId = 1);

// The whole-state document, parsed.
nlohmann::ordered_json wholeState(fcgiclient::FcgiClient& client);

// Sends an update request and leaves it waiting.
void startUpdate(fcgiclient::FcgiClient& client, uint16_t requestId);

// Posts one raw record to the broker from inside the sandbox, as another process of the unit would.
int postBrokerRecord(const Sandbox& unit, uint32_t event, uint32_t a = 0, uint32_t b = 0);

size_t count(const std::string& text, const std::string& part);
