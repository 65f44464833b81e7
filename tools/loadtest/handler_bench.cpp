// Load client for the variable API over keep-alive FastCGI connections, on loopback only.
//
//   handler-bench whole  PORT CONNECTIONS SECONDS   whole-state requests: requests/s and latency
//   handler-bench set    PORT CONNECTIONS SECONDS   writes that change a value each time: requests/s and latency
//   handler-bench update PORT WAITERS ROUNDS        time from a change to the answers of the waiting update requests
//   handler-bench repeat PORT REQUESTS SCRIPT       REQUESTS requests of SCRIPT with nginx's parameters, one
//                                                   after the other on one keep-alive connection
//
// Every run is bounded by its seconds or rounds and talks to 127.0.0.1 only.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/fcgi-client/fcgiclient.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Summary {
  std::vector<double> millis;
  size_t failures = 0;
};

void print(const char* what, Summary& summary, double seconds) {
  auto& m = summary.millis;
  std::sort(m.begin(), m.end());
  const auto at = [&](double q) { return m.empty() ? 0.0 : m[std::min(m.size() - 1, size_t(q * m.size()))]; };
  std::printf("%s: %zu answers, %zu failures", what, m.size(), summary.failures);
  if (seconds > 0) std::printf(", %.0f requests/s", m.size() / seconds);
  std::printf(", latency ms: median %.3f, p99 %.3f, worst %.3f\n", at(0.5), at(0.99), m.empty() ? 0.0 : m.back());
}

std::unique_ptr<fcgiclient::FcgiClient> connect(uint16_t port) {
  const int fd = fcgiclient::connectTcp("127.0.0.1", port);
  if (fd < 0) {
    std::perror("connect");
    std::exit(1);
  }
  return std::make_unique<fcgiclient::FcgiClient>(fd);
}

// Each connection sends requests back to back for the given time.
template <typename MakeBody>
void load(const char* what, const char* script, uint16_t port, int connections, double seconds, MakeBody makeBody) {
  Summary total;
  std::mutex lock;
  std::vector<std::thread> threads;
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&, c] {
      Summary mine;
      auto client = connect(port);
      for (unsigned int n = 0; Clock::now() < end; ++n) {
        const auto start = Clock::now();
        const auto reply = client->request({{"SCRIPT_NAME", script}}, makeBody(c, n), true, uint16_t(n % 60000 + 1));
        if (!reply.ended) {
          ++mine.failures;
          client = connect(port);
          continue;
        }
        mine.millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      }
      std::lock_guard<std::mutex> guard(lock);
      total.millis.insert(total.millis.end(), mine.millis.begin(), mine.millis.end());
      total.failures += mine.failures;
    });
  }
  for (auto& thread : threads) thread.join();
  print(what, total, seconds);
}

// Each round: the waiters send their update requests, then one write changes a value; the time runs
// from the write's answer (its broker event is posted before the answer) to each waiter's answer.
void update(uint16_t port, int waiters, int rounds) {
  std::vector<std::unique_ptr<fcgiclient::FcgiClient>> clients;
  for (int w = 0; w < waiters; ++w) clients.push_back(connect(port));
  auto writer = connect(port);
  Summary summary;
  for (int round = 0; round < rounds; ++round) {
    for (auto& client : clients)
      client->sendRaw(fcgiclient::encodeRequest({{"SCRIPT_NAME", "/api/v1/update.cgi"}}, "", true, 7));
    // Let the waiters' requests arrive and a pass sweep earlier changes before the measured one.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const std::string body = "{'MemPersistent':{'AUXTorque':" + std::to_string(round % 4 + 1) + "}}";
    writer->request({{"SCRIPT_NAME", "/api/v1/set.cgi"}}, body, true, 3);
    const auto changed = Clock::now();
    std::vector<std::thread> readers;
    std::mutex lock;
    for (auto& client : clients) {
      readers.emplace_back([&, raw = client.get()] {
        const auto reply = raw->readReply(2000);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - changed).count();
        std::lock_guard<std::mutex> guard(lock);
        if (reply.ended && reply.stdoutText.find("AUXTorque") != std::string::npos)
          summary.millis.push_back(ms);
        else
          ++summary.failures;
      });
    }
    for (auto& reader : readers) reader.join();
  }
  const std::string what = "update, " + std::to_string(waiters) + " waiters";
  print(what.c_str(), summary, 0);
}

// The parameters nginx sends with a GET of script (tools/nginx/webservice_params and the site's headers).
fcgiclient::Params nginxParams(const std::string& script) {
  return {{"SCRIPT_NAME", script},
          {"PATH_INFO", ""},
          {"QUERY_STRING", ""},
          {"REQUEST_METHOD", "GET"},
          {"CONTENT_TYPE", ""},
          {"CONTENT_LENGTH", ""},
          {"SCRIPT_FILENAME", "/usr/share/nginx/html" + script},
          {"REQUEST_URI", script},
          {"DOCUMENT_URI", script},
          {"DOCUMENT_ROOT", "/usr/share/nginx/html"},
          {"SERVER_PROTOCOL", "HTTP/1.1"},
          {"REQUEST_SCHEME", "http"},
          {"GATEWAY_INTERFACE", "CGI/1.1"},
          {"SERVER_SOFTWARE", "nginx/1.22.1"},
          {"REMOTE_ADDR", "192.168.1.20"},
          {"REMOTE_PORT", "51234"},
          {"SERVER_ADDR", "192.168.1.1"},
          {"SERVER_PORT", "80"},
          {"SERVER_NAME", ""},
          {"HTTP_HOST", "192.168.1.1"},
          {"HTTP_USER_AGENT", "Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0"},
          {"HTTP_ACCEPT", "application/json, text/plain, */*"},
          {"HTTP_ACCEPT_LANGUAGE", "en-US,en;q=0.5"},
          {"HTTP_ACCEPT_ENCODING", "gzip, deflate"},
          {"HTTP_CONNECTION", "keep-alive"}};
}

// Fails when any answer does not end.
int repeat(uint16_t port, int requests, const char* script) {
  auto client = connect(port);
  const fcgiclient::Params params = nginxParams(script);
  for (int n = 0; n < requests; ++n) {
    if (!client->request(params, "", true, uint16_t(n % 60000 + 1)).ended) {
      std::fprintf(stderr, "request %d of %s did not end\n", n, script);
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s whole|set|update|repeat PORT CONNECTIONS|WAITERS|REQUESTS SECONDS|ROUNDS|SCRIPT\n",
                 argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const auto port = uint16_t(std::atoi(argv[2]));
  if (mode == "repeat") return repeat(port, std::clamp(std::atoi(argv[3]), 1, 1000000), argv[4]);
  const int count = std::clamp(std::atoi(argv[3]), 1, 64);
  const double amount = std::clamp(std::atof(argv[4]), 0.1, 120.0);
  if (mode == "whole") {
    load("whole state", "/api/v1/all.cgi", port, count, amount, [](int, unsigned int) { return std::string(); });
  } else if (mode == "set") {
    // Alternating values, so that every write is a real change with its broker event.
    load("set", "/api/v1/set.cgi", port, count, amount,
         [](int, unsigned int n) { return "{'MemPersistent':{'AUXTorque':" + std::to_string(n % 4 + 1) + "}}"; });
  } else if (mode == "update") {
    update(port, count, int(amount));
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  return 0;
}
