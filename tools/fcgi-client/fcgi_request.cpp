// fcgi-request: sends one FastCGI request and prints the answer's STDOUT (STDERR to standard error).
//   fcgi-request [-H host] [-P port] [-k] [-s splitEvery] [-r requestId] [-b bodyfile|-] NAME=VALUE...
// Exits 0 when an END_REQUEST with status 0 arrived, 1 otherwise.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tools/fcgi-client/fcgiclient.h"

namespace {
std::string readBody(const std::string& path) {
  if (path == "-") return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  int port = 9000;
  bool keepConn = false;
  size_t splitEvery = 0;
  int requestId = 1;
  std::string body;
  int option;
  while ((option = ::getopt(argc, argv, "H:P:ks:r:b:")) != -1) {
    switch (option) {
      case 'H':
        host = optarg;
        break;
      case 'P':
        port = std::atoi(optarg);
        break;
      case 'k':
        keepConn = true;
        break;
      case 's':
        splitEvery = std::strtoul(optarg, nullptr, 10);
        break;
      case 'r':
        requestId = std::atoi(optarg);
        break;
      case 'b':
        body = readBody(optarg);
        break;
      default:
        std::fprintf(stderr, "usage: %s [-H host] [-P port] [-k] [-s split] [-r id] [-b body|-] NAME=VALUE...\n",
                     argv[0]);
        return 2;
    }
  }
  fcgiclient::Params params;
  for (int i = optind; i < argc; ++i) {
    std::string pair = argv[i];
    size_t equals = pair.find('=');
    if (equals == std::string::npos)
      params[pair] = "";
    else
      params[pair.substr(0, equals)] = pair.substr(equals + 1);
  }
  int fd = fcgiclient::connectTcp(host, static_cast<uint16_t>(port));
  if (fd < 0) {
    std::perror("connect");
    return 1;
  }
  fcgiclient::FcgiClient client(fd);
  auto reply = client.request(params, body, keepConn, static_cast<uint16_t>(requestId), splitEvery);
  std::cout << reply.stdoutText << std::flush;
  std::cerr << reply.stderrText << std::flush;
  return reply.ended && reply.appStatus == 0 ? 0 : 1;
}
