#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/gen/gen.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/loopturn.h"
#include "apps/web/service/requesthandler.h"

int main() {
  gen::init();
  EventPoll* poll = gen::getEventPoll();
  {
    Fcgi fcgi(Fcgi::kPort, *poll);
    RequestHandler handler(*poll, fcgi);
    // Nothing is dispatched before the first wait, so no request or event can miss the handler.
    fcgi.requestCallback = &handler;
    gen::getServerConnection()->eventHandler = &handler;

    // Finished requests are deleted after every turn, not only by the handler's 100 ms pass.
    LoopTurn& turn = LoopTurn::current();
    while (poll->wait(100, false) != EventPoll::Terminate) {
      fcgi.deleteRemoved();
      const auto passBegan = LoopTurn::Clock::now();
      handler.periodic();
      if (LoopTurn::Clock::now() - passBegan >= LoopTurn::kMeasureFrom) turn.note("periodic pass");
      turn.end(poll->wokeAt());
    }

    gen::closeServerConnection();
  }
  return 0;
}
