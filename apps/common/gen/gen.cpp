#include "apps/common/gen/gen.h"

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/gen/initorder.h"
#include "apps/common/log/log.h"

namespace {
// Constructed after the segment objects and before anything in main; see initorder.h.
EventPoll eventPoll __attribute__((init_priority(INIT_PRIORITY_EVENTPOLL)));
}  // namespace

ServerConnection* gServerConnection = nullptr;

// Programs that need work at the edges of start-up define their own hooks; this service needs none.
__attribute__((weak)) void processPreInit() {}
__attribute__((weak)) void processPostInit() {}

namespace gen {
void init() {
  processPreInit();
  processPostInit();
}

EventPoll* getEventPoll() { return &eventPoll; }

ServerConnection* getServerConnection() { return gServerConnection; }

void closeServerConnection() {
  delete gServerConnection;
  gServerConnection = nullptr;
}
}  // namespace gen
