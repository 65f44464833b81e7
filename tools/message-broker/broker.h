#pragma once
// The stand-in message broker: splits each client's stream into 12-byte records, handles the
// subscription control records and forwards every other record to its subscribers.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

class Broker {
 public:
  // listenFd may be -1 when clients are only handed in through adopt().
  Broker(int listenFd, size_t maxPendingBytes, bool trace);
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // Takes ownership of a connected stream socket.
  void adopt(int fd);
  // Waits up to timeoutMs for readiness and serves what is ready; false when interrupted by a signal.
  bool step(int timeoutMs);
  size_t clientCount() const { return clients.size(); }

 private:
  struct Client;

  void accept();
  void receive(Client& client);
  void handleRecord(Client& client, const unsigned char* record);
  void forward(const unsigned char* record, uint32_t event);
  void queue(Client& client, const unsigned char* data, size_t length);
  void flush(Client& client);
  void drop(Client& client, const char* reason);
  void sweep();

  int epollFd = -1;
  int listenFd;
  size_t maxPending;
  bool trace;
  unsigned nextNumber = 1;
  std::map<int, std::unique_ptr<Client>> clients;
  std::set<int> touched;
  std::set<int> dropped;
};
