#include "apps/common/event/eventpoll.h"
#include "apps/common/gen/gen.h"

int main() {
  gen::init();
  EventPoll* poll = gen::getEventPoll();

  // The FastCGI listener on Fcgi::kPort and the RequestHandler are constructed here, the handler registered as the
  // listener's requestCallback and as the broker connection's eventHandler, and handler.periodic() called after
  // every wait below. Nothing can be dispatched before the first wait.

  while (poll->wait(100, false) != EventPoll::Terminate) {
  }

  gen::closeServerConnection();
  return 0;
}
