#pragma once
// The screen route: a PNG of the display, or the service's JSON error answer when there is none.
class Request;
class ScreenCapture;

void serveScreen(Request* request, ScreenCapture& capture);
