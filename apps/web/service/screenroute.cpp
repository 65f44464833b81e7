#include "apps/web/service/screenroute.h"

#include <exception>
#include <sstream>

#include "apps/common/introspection/jsonstring.h"
#include "apps/web/service/request.h"
#include "apps/web/service/screencapture.h"

void serveScreen(Request* request, ScreenCapture& capture) {
  request->writeHeader("Content-type: image/png\r\n\r\n");
  std::stringstream& out = request->output();
  try {
    out << capture;
  } catch (const std::exception& error) {
    // Nothing has been sent yet: the head and any part of the image are still in the buffer, and
    // are dropped here, before another output() could send them.
    out.str("");
    out.clear();
    request->writeHeader("Content-type: application/json\r\n\r\n");
    request->output() << "{\"result\": 0, \"error\": \"" << JsonEscaped{error.what()} << "\" }";
  }
  request->end();
}
