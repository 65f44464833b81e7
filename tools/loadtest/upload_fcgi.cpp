// upload-fcgi: posts one file to the service's update route over FastCGI, straight from the file to the
// socket in pieces, so that an upload of any size costs this client no memory; prints the answer.
//   upload-fcgi HOST PORT DEVICEID FILE
// Exits 0 when the request was ended, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tools/fcgi-client/fcgiclient.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: upload-fcgi HOST PORT DEVICEID FILE\n");
    return 2;
  }
  std::ifstream file(argv[4], std::ios::binary | std::ios::ate);
  if (!file) {
    std::perror(argv[4]);
    return 1;
  }
  const auto fileSize = static_cast<unsigned long long>(file.tellg());
  file.seekg(0);
  const std::string boundary = "upload-fcgi-boundary";
  const std::string head = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\n" + argv[3] +
                           "\r\n--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"update.swu\"\r\n"
                           "Content-Type: application/octet-stream\r\n\r\n";
  const std::string tail = "\r\n--" + boundary + "--\r\n";
  const fcgiclient::Params params{{"SCRIPT_NAME", "/qorapp/v1"},
                                  {"PATH_INFO", "/device/update"},
                                  {"REQUEST_METHOD", "POST"},
                                  {"CONTENT_TYPE", "multipart/form-data; boundary=" + boundary},
                                  {"CONTENT_LENGTH", std::to_string(head.size() + fileSize + tail.size())}};
  int fd = fcgiclient::connectTcp(argv[1], static_cast<uint16_t>(std::atoi(argv[2])));
  if (fd < 0) {
    std::perror("connect");
    return 1;
  }
  fcgiclient::FcgiClient client(fd);
  // The request's head as the library encodes it, without its body and the body's end.
  std::string start = fcgiclient::encodeRequest(params, "", false, 1);
  const std::string end = fcgiclient::encodeRecord(fcgiclient::kStdin, 1, "");
  start.resize(start.size() - end.size());
  bool sent = client.sendRaw(start) && client.sendRaw(fcgiclient::encodeRecord(fcgiclient::kStdin, 1, head));
  std::string piece(65528, '\0');
  while (sent && file) {
    file.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<size_t>(file.gcount());
    if (got > 0) sent = client.sendRaw(fcgiclient::encodeRecord(fcgiclient::kStdin, 1, piece.substr(0, got)));
  }
  sent = sent && client.sendRaw(fcgiclient::encodeRecord(fcgiclient::kStdin, 1, tail)) && client.sendRaw(end);
  const fcgiclient::Reply reply = client.readReply(600000);
  std::fwrite(reply.stdoutText.data(), 1, reply.stdoutText.size(), stdout);
  std::fputc('\n', stdout);
  return sent && reply.ended ? 0 : 1;
}
