// Benchmark peer: the same answers as fcgi_bench_responder, on Debian's libfcgi. Never part of
// the service; it only gives the benchmark a yardstick. Port from the first argument.
#include <fcgiapp.h>

#include <cstdlib>
#include <string>

#include "tools/loadtest/bench_answer.h"

int main(int argc, char** argv) {
  if (FCGX_Init() != 0) return 1;
  std::string address = std::string(":") + (argc > 1 ? argv[1] : "9001");
  int listener = FCGX_OpenSocket(address.c_str(), 10);
  if (listener < 0) return 1;
  FCGX_Request request;
  FCGX_InitRequest(&request, listener, 0);
  std::string big = benchanswer::bigBody();
  while (FCGX_Accept_r(&request) == 0) {
    const char* script = FCGX_GetParam("SCRIPT_NAME", request.envp);
    bool wantsBig = script != nullptr && benchanswer::wantsBig(script);
    FCGX_PutS(benchanswer::kHead, request.out);
    if (wantsBig) {
      FCGX_PutStr(big.data(), static_cast<int>(big.size()), request.out);
    } else {
      FCGX_PutS(benchanswer::kSmall, request.out);
    }
    FCGX_Finish_r(&request);
  }
  return 0;
}
