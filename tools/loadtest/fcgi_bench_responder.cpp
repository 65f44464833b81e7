// Benchmark responder on our FastCGI server: answers every request with a small fixed text, or
// with 1 MiB when the script name ends in "/big". Port from the first argument (default 9000).
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "apps/common/event/eventpoll.h"
#include "apps/common/log/log.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "tools/loadtest/bench_answer.h"

namespace {
class FixedAnswer : public Fcgi::RequestCallback {
 public:
  static constexpr size_t kPiece = 8192;

  void handleRequest(Request* request) override {
    request->writeHeader(benchanswer::kHead);
    if (benchanswer::wantsBig(request->params["SCRIPT_NAME"].c_str())) {
      // Written piece by piece, as the service's handlers write large answers: output() sends
      // what it holds once it has passed its threshold.
      std::string_view rest = big;
      for (; !rest.empty(); rest.remove_prefix(std::min(rest.size(), kPiece)))
        request->output() << rest.substr(0, kPiece);
    } else {
      request->output() << benchanswer::kSmall;
    }
    request->end();
  }

 private:
  std::string big = benchanswer::bigBody();
};
}  // namespace

int main(int argc, char** argv) {
  gen::LogLevel quiet = gen::Error;
  gComponentLogLevel = &quiet;
  EventPoll poll;
  Fcgi fcgi(argc > 1 ? std::atoi(argv[1]) : Fcgi::kPort, poll);
  FixedAnswer answer;
  fcgi.requestCallback = &answer;
  while (poll.wait(100, false) != EventPoll::Terminate) fcgi.cleanup();
  return 0;
}
