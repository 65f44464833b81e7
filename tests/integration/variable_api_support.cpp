#include "tests/integration/variable_api_support.h"

#include <stdexcept>

std::unique_ptr<fcgiclient::FcgiClient> connectService(const Sandbox& unit) {
  const int fd = unit.connectTcpWhenListening(9000);
  if (fd < 0) throw std::runtime_error("the service does not listen");
  return std::make_unique<fcgiclient::FcgiClient>(fd);
}

std::string call(fcgiclient::FcgiClient& client, const std::string& script, const std::string& body,
                 uint16_t requestId) {
  const auto reply = client.request({{"SCRIPT_NAME", script}}, body, true, requestId);
  if (!reply.ended) return "";
  const size_t head = reply.stdoutText.find("\r\n\r\n");
  return head == std::string::npos ? reply.stdoutText : reply.stdoutText.substr(head + 4);
}

nlohmann::ordered_json wholeState(fcgiclient::FcgiClient& client) {
  return nlohmann::ordered_json::parse(call(client, "/api/v1/all.cgi", ""));
}

void startUpdate(fcgiclient::FcgiClient& client, uint16_t requestId) {
  client.sendRaw(fcgiclient::encodeRequest({{"SCRIPT_NAME", "/api/v1/update.cgi"}}, "", true, requestId));
}

int postBrokerRecord(const Sandbox& unit, uint32_t event, uint32_t a, uint32_t b) {
  return unit.run(
      "python3 -c \"import socket, struct; s = socket.socket(socket.AF_UNIX); "
      "s.connect('/var/volatile/message-broker.socket'); s.sendall(struct.pack('=III', " +
      std::to_string(event) + ", " + std::to_string(a) + ", " + std::to_string(b) + "))\"");
}

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++found;
  return found;
}
