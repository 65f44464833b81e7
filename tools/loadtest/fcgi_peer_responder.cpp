// Benchmark peer on Debian's libfcgi: reads the request's body and gives the answer the service gives
// to a write that succeeds. Never part of the service; it only gives the benchmark a yardstick. Port
// from the first argument; the listen queue is as deep as the service's.
#include <fcgiapp.h>

#include <string>

int main(int argc, char** argv) {
  if (FCGX_Init() != 0) return 1;
  std::string address = std::string(":") + (argc > 1 ? argv[1] : "9001");
  int listener = FCGX_OpenSocket(address.c_str(), 32);
  if (listener < 0) return 1;
  FCGX_Request request;
  FCGX_InitRequest(&request, listener, 0);
  while (FCGX_Accept_r(&request) == 0) {
    while (FCGX_GetChar(request.in) != EOF) {
    }
    FCGX_PutS("Content-type: application/json\r\n\r\n{\"result\": 1 }", request.out);
    FCGX_Finish_r(&request);
  }
  return 0;
}
