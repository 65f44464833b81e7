#include "apps/common/gen/gen.h"

#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/gen/initorder.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"

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
  for (unsigned int mem = 0; mem < MEMORY_ARRAY_SIZE; ++mem) {
    SEGMENT_ARRAY[mem]->open();
    *MEMORY_POINTER_ARRAY[mem] = SEGMENT_ARRAY[mem]->address();
  }
  gServerConnection = new ServerConnection(eventPoll);
  gServerConnection->eventNamer = eventName;
  setEventSink(gServerConnection);
  gServerConnection->subscribeAll();
  // Other processes can change this service's threshold.
  gComponentLogLevel = catalogue::MemApp::AppServiceLogLevel.at();
  processPostInit();
}

EventPoll* getEventPoll() { return &eventPoll; }

ServerConnection* getServerConnection() { return gServerConnection; }

void closeServerConnection() {
  setEventSink(nullptr);
  delete gServerConnection;
  gServerConnection = nullptr;
}

void subscribeNotifications() {
  if (gServerConnection == nullptr) THROW_ERROR("Trying to subscribe without server connection");
  gServerConnection->subscribeAll();
}
}  // namespace gen
