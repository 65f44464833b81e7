#include "apps/common/introspection/testcatalogue.h"

#include <fcntl.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"

namespace {
void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// The client knows only the unit's fixed socket and semaphore paths, so the recorder takes them over
// in a mount namespace of this process's own.
class EventRecorder {
 public:
  EventRecorder() {
    check(::unshare(CLONE_NEWNS) == 0, "unshare");
    check(::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0, "mount /");
    check(::mount("none", "/dev/shm", "tmpfs", 0, nullptr) == 0, "mount /dev/shm");
    check(::mount("none", "/var", "tmpfs", 0, nullptr) == 0, "mount /var");
    check(::mkdir("/var/volatile", 0755) == 0, "mkdir");
    listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, "/var/volatile/message-broker.socket", sizeof address.sun_path - 1);
    check(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
    check(::listen(listener, 1) == 0, "listen");
    sem_t* ready = ::sem_open("/message-broker-ready", O_CREAT, 0666, 1);
    check(ready != SEM_FAILED, "sem_open");
    ::sem_close(ready);
    connection = std::make_unique<ServerConnection>(poll);
    peer = ::accept(listener, nullptr, nullptr);
    check(peer >= 0, "accept");
    gServerConnection = connection.get();
  }

  std::vector<Notify> take() {
    std::vector<Notify> events;
    Notify record;
    while (::recv(peer, &record, sizeof record, MSG_DONTWAIT | MSG_WAITALL) == static_cast<ssize_t>(sizeof record)) {
      events.push_back(record);
    }
    return events;
  }

 private:
  EventPoll poll;
  int listener = -1;
  int peer = -1;
  std::unique_ptr<ServerConnection> connection;
};

EventRecorder& recorder() {
  // Kept for the whole test program: the namespace cannot be left again.
  static EventRecorder* instance = new EventRecorder;
  return *instance;
}
}  // namespace

std::vector<Notify> takePostedEvents() { return recorder().take(); }

std::string failureMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& error) {
    std::string text = error.what();
    std::size_t at = text.find(':') + 1;
    while (at < text.size() && text[at] == ' ') ++at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    return text.substr(at + 1);
  }
  return "no failure";
}

RowRef findRow(const std::string& memory, const std::string& name) {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    if (memory != MEMORY_ARRAY[mem].name) continue;
    for (unsigned int var = 0; var < MEMORY_ARRAY[mem].count; ++var) {
      if (name == MEMORY_ARRAY[mem].rows[var].name) return {mem, var};
    }
  }
  throw std::invalid_argument("no variable " + memory + "." + name);
}

TestPayloads::TestPayloads() {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    payloads.emplace_back((MEMORY_ARRAY[mem].payloadSize + 3) / 4, 0u);
    *MEMORY_POINTER_ARRAY[mem] = reinterpret_cast<char*>(payloads.back().data());
  }
  takePostedEvents();
}

TestPayloads::~TestPayloads() {
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) *MEMORY_POINTER_ARRAY[mem] = nullptr;
}
