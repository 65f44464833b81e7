#pragma once
// Construction order of the process-wide objects that live in different translation units:
// the segment objects first, then the event poll (lower numbers are constructed first).
#define INIT_PRIORITY_SEGMENTS 1010
#define INIT_PRIORITY_EVENTPOLL 1020
