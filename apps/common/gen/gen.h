#pragma once
// Start-up of the common run-time and the accessors of the process-wide objects.
class EventPoll;
class ServerConnection;

namespace gen {
void init();
EventPoll* getEventPoll();
ServerConnection* getServerConnection();
void closeServerConnection();
void subscribeNotifications();
}  // namespace gen

void processPreInit();
void processPostInit();
