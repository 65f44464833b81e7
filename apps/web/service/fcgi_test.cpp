#include "apps/web/service/fcgi.h"

#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "apps/web/service/fcgi_test_fixture.h"
#include "tests/unit/child_process.h"

using fcgiclient::encodeRecord;
using fcgiclient::encodeRequest;

using FcgiTable = FcgiFixture;

TEST_F(FcgiTable, IdleKeptConnectionsHoldNoPlaceWhileThirtyTwoRequestsInProgressFillTheTable) {
  answerWith("ok");
  // Forty kept connections that made one request each and stay: a newcomer is still served.
  std::vector<std::unique_ptr<fcgiclient::FcgiClient>> idle;
  for (int i = 0; i < 40; ++i) {
    idle.push_back(connect());
    ASSERT_TRUE(idle.back()->request({}, "", true, 1).ended) << i;
  }
  EXPECT_TRUE(fcgi->requests().empty());
  EXPECT_EQ(connect()->request({}, "", false, 2).stdoutText, "ok");
  EXPECT_EQ(idle.front()->request({}, "", true, 3).stdoutText, "ok");

  // Thirty-two requests in progress fill the table: a new connection is closed at once.
  std::vector<Request*> held;
  handler.onRequest = [&](Request* request) { held.push_back(request); };
  for (size_t i = 0; i < Fcgi::kMaxRequests; ++i) ASSERT_TRUE(idle[i]->sendRaw(encodeRequest({}, "", true, 4)));
  for (int turn = 0; turn < 50 && held.size() < Fcgi::kMaxRequests; ++turn) pump();
  ASSERT_EQ(held.size(), Fcgi::kMaxRequests);
  EXPECT_EQ(fcgi->requests().size(), Fcgi::kMaxRequests);
  EXPECT_TRUE(connect()->closedByPeer(1000));
  // A peer that goes frees its place at once, before cleanup deletes it.
  cleanupEachTurn = false;
  idle.front().reset();
  held.erase(held.begin());
  for (int turn = 0; turn < 10; ++turn) pump();
  answerWith("ok");
  EXPECT_EQ(connect()->request({}, "", false, 5).stdoutText, "ok");
  // Requests that end free theirs; the table keeps only what is in progress.
  for (Request* request : held) request->end();
  fcgi->cleanup();
  EXPECT_TRUE(fcgi->requests().empty());
  for (size_t i = 0; i < 2 * Fcgi::kMaxRequests; ++i)
    ASSERT_EQ(connect()->request({}, "", false, 6).stdoutText, "ok") << "connection " << i;
}

TEST_F(FcgiTable, ConnectionsWaitingOnTheirPeerAreClosedAfterTheBoundButRequestsInProgressStay) {
  fcgi->idleBound = std::chrono::milliseconds(300);
  Request* held = nullptr;
  handler.onRequest = [&](Request* request) {
    if (request->param("HOLD") == "1") return void(held = request);
    request->end();
  };
  auto kept = connect();
  ASSERT_TRUE(kept->request({}, "", true, 1).ended);
  auto silent = connect();
  auto halfRecord = connect();
  ASSERT_TRUE(halfRecord->sendRaw(encodeRequest({}, "", true, 1).substr(0, 20)));
  auto holding = connect();
  ASSERT_TRUE(holding->sendRaw(encodeRequest({{"HOLD", "1"}}, "", true, 2)));
  // Kept busy by input now and then, a connection is not idle.
  auto chatty = connect();
  const std::string chat = encodeRequest({}, "", true, 3);
  for (size_t at = 0; at < chat.size() && at < 12; ++at) {
    ASSERT_TRUE(chatty->sendRaw(chat.substr(at, 1)));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  ASSERT_NE(held, nullptr);
  for (auto* client : {&kept, &silent, &halfRecord}) EXPECT_TRUE((*client)->closedByPeer(2000));
  EXPECT_FALSE(holding->closedByPeer(100));
  EXPECT_FALSE(chatty->closedByPeer(0));
  ASSERT_TRUE(chatty->sendRaw(chat.substr(12)));
  EXPECT_TRUE(chatty->readReply(1000).ended);
  held->end();
  EXPECT_TRUE(holding->readReply(1000).ended);
}

TEST_F(FcgiTable, RemovedRequestsLeaveAtCleanupIdsAreNeverReusedAndTheDestructorEndsOwedAnswers) {
  std::map<int, Request*> held;
  unsigned int lastId = 0;
  handler.onRequest = [&](Request* request) {
    lastId = request->id;
    if (request->params.count("CLOSE")) {
      request->end();  // ended and closed, still in the table until cleanup
    } else {
      held[request->fcgiRequestId()] = request;  // waits, as a long-poll does
    }
  };
  // A removed request stays findable until cleanup; removed twice, the second is only reported there.
  auto removed = connect();
  ASSERT_TRUE(removed->sendRaw(encodeRequest({}, "", true, 1)));
  for (int turn = 0; turn < 100 && held.empty(); ++turn) poll.wait(0, true);
  ASSERT_EQ(held.size(), 1u);
  const unsigned int firstId = lastId;
  fcgi->removeRequest(held[1]);
  fcgi->removeRequest(held[1]);
  EXPECT_EQ(fcgi->request(firstId), held[1]);
  fcgi->cleanup();
  EXPECT_EQ(fcgi->request(firstId), nullptr);
  EXPECT_TRUE(fcgi->requests().empty());
  EXPECT_TRUE(removed->closedByPeer(1000));
  fcgi->cleanup();
  held.clear();

  cleanupEachTurn = false;
  auto waiting = connect();
  auto closed = connect();
  auto idle = connect();
  ASSERT_TRUE(waiting->sendRaw(encodeRequest({}, "", true, 11)));
  EXPECT_TRUE(closed->request({{"CLOSE", "1"}}, "", false, 12).ended);
  EXPECT_NE(lastId, firstId);  // the request object may reuse the freed memory, but not the id
  ASSERT_TRUE(idle->sendRaw(encodeRequest({}, "", true, 13)));
  for (int turn = 0; turn < 10; ++turn) poll.wait(0, true);
  ASSERT_EQ(held.size(), 2u);
  held[13]->end();  // this one has had its answer
  ASSERT_TRUE(idle->readReply(1000).ended);
  EXPECT_NO_THROW(fcgi.reset());
  auto owed = waiting->readReply(1000);
  ASSERT_TRUE(owed.ended);
  EXPECT_EQ(owed.records.front().requestId, 11);
  EXPECT_TRUE(waiting->closedByPeer(1000));
  // No second end record for the request that was already answered.
  EXPECT_FALSE(idle->readRecord(50).has_value());
  EXPECT_TRUE(idle->closedByPeer(1000));
}

TEST_F(FcgiTable, MalformedAndManagementRecordsAreAnsweredAsTheProtocolHasThemAndTheStreamStaysInStep) {
  using namespace fcgiclient;
  std::string seenParams;
  std::map<uint16_t, Request*> waiting;
  handler.onRequest = [&](Request* request) {
    if (request->param("WAIT") == "1") {
      request->waits = Waits::Update;  // a long-poll
      waiting[request->fcgiRequestId()] = request;
      return;
    }
    for (const auto& [name, value] : request->params) seenParams += name + "=" + value + ";";
    request->output() << request->postData;
    request->end();
  };
  auto client = connect();
  // Records out of order, cut short, of unknown type or beyond their bounds are skipped.
  std::string begin(8, '\0');
  begin[2] = 1;
  std::string stream = encodeRecord(kParams, 1, encodeNameValue("EARLY", "x")) +
                       encodeRecord(kStdin, 1, "") +                           // before any BEGIN_REQUEST
                       encodeRecord(kBeginRequest, 1, std::string(1, '\0')) +  // body too short
                       encodeRecord(11, 1, std::string(100, 'z'), 4) + encodeRecord(200, 1, "") +
                       encodeRecord(kGetValues, 1, "abc", 5) + encodeRecord(kAbortRequest, 1, "") +
                       encodeRecord(kBeginRequest, 1, begin) +
                       encodeRecord(kParams, 1, encodeLength(0x7FFFFFFF) + encodeLength(0x7FFFFFFF) + "x") +
                       encodeRecord(kParams, 1, encodeNameValue("GOOD", "1")) + encodeRecord(kParams, 1, "") +
                       encodeRecord(kStdin, 1, "i") + encodeRecord(kStdin, 1, "n") + encodeRecord(kStdin, 1, "") +
                       encodeRecord(kStdin, 1, "") +  // a second end of input
                       encodeRecord(kParams, 1, encodeNameValue("LATE", "y"));
  ASSERT_TRUE(client->sendRaw(stream, 13));
  auto reply = client->readReply(1000);
  EXPECT_TRUE(reply.ended);
  EXPECT_EQ(reply.stdoutText, "Content-type: application/json\r\n\r\nin");
  EXPECT_EQ(seenParams, "GOOD=1;");
  EXPECT_EQ(handler.seen.size(), 1u);
  // The limits, asked for by name; a name this side does not know is left out of the answer.
  ASSERT_TRUE(
      client->sendRaw(encodeRecord(kGetValues, 0,
                                   encodeNameValue("FCGI_MAX_CONNS", "") + encodeNameValue("FCGI_MAX_REQS", "") +
                                       encodeNameValue("FCGI_MPXS_CONNS", "") + encodeNameValue("FCGI_OTHER", ""))));
  auto values = client->readRecord(1000);
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ(values->type, kGetValuesResult);
  EXPECT_EQ(values->requestId, 0);
  EXPECT_EQ(values->content, encodeNameValue("FCGI_MAX_CONNS", std::to_string(fcgi->maxConnections())) +
                                 encodeNameValue("FCGI_MAX_REQS", "32") + encodeNameValue("FCGI_MPXS_CONNS", "0"));
  // Types the protocol does not have.
  for (uint8_t type : {uint8_t{0}, uint8_t{11}, uint8_t{200}}) {
    ASSERT_TRUE(client->sendRaw(encodeRecord(type, 0, "abc", 5)));
    auto unknown = client->readRecord(1000);
    ASSERT_TRUE(unknown.has_value());
    EXPECT_EQ(unknown->type, kUnknownType);
    EXPECT_EQ(unknown->content, std::string(1, static_cast<char>(type)) + std::string(7, '\0'));
  }

  // A second request id while a long-poll waits is refused; the waiting one keeps the connection.
  ASSERT_TRUE(client->sendRaw(encodeRequest({{"WAIT", "1"}}, "", true, 1)));
  for (int turn = 0; turn < 20 && waiting.empty(); ++turn) pump();
  ASSERT_EQ(waiting.size(), 1u);
  ASSERT_TRUE(client->sendRaw(encodeRequest({{"SECOND", "1"}}, "body", true, 2)));
  auto refused = client->readReply(1000);
  ASSERT_TRUE(refused.ended);
  EXPECT_EQ(refused.records.size(), 1u);
  EXPECT_EQ(refused.records.back().requestId, 2);
  EXPECT_EQ(refused.protocolStatus, kCantMultiplexConnection);
  EXPECT_EQ(handler.seen.size(), 2u);
  Request* first = waiting[1];
  first->output() << "first";
  first->end();
  auto answered = client->readReply(1000);
  EXPECT_EQ(answered.records.front().requestId, 1);
  EXPECT_EQ(answered.stdoutText, "Content-type: application/json\r\n\r\nfirst");
  EXPECT_EQ(answered.protocolStatus, kRequestComplete);

  // An aborted long-poll is ended at once and leaves the waiting passes; its handler's late end sends nothing.
  waiting.clear();
  ASSERT_TRUE(client->sendRaw(encodeRequest({{"WAIT", "1"}}, "", true, 3)));
  for (int turn = 0; turn < 20 && waiting.empty(); ++turn) pump();
  ASSERT_EQ(waiting.size(), 1u);
  waiting[3]->output() << "never sent";
  ASSERT_TRUE(client->sendRaw(encodeRecord(kAbortRequest, 3, "")));
  auto aborted = client->readReply(1000);
  ASSERT_TRUE(aborted.ended);
  EXPECT_EQ(aborted.records.size(), 1u);
  EXPECT_EQ(aborted.records.back().requestId, 3);
  EXPECT_EQ(waiting[3]->waits, Waits::Nothing);
  waiting[3]->end();
  EXPECT_FALSE(client->readRecord(50).has_value());
  // An abort for another id, or with nothing in progress, changes nothing; the connection serves on.
  ASSERT_TRUE(client->sendRaw(encodeRecord(kAbortRequest, 7, "")));
  EXPECT_EQ(client->request({}, "again", true, 4).stdoutText, "Content-type: application/json\r\n\r\nagain");
}

TEST_F(FcgiTable, PeersThatGoAwayAreReleasedWhateverTheyLeftBehind) {
  answerWith("ok");
  // Peers gone before they are accepted leave no descriptor behind.
  auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  auto before = descriptors();
  for (int i = 0; i < 3; ++i) ::close(fcgiclient::connectTcp("127.0.0.1", static_cast<uint16_t>(fcgi->port())));
  for (int turn = 0; turn < 5; ++turn) pump();
  EXPECT_EQ(descriptors(), before);
  // A truncated record, or whole records only, then the peer closes only its sending side: no hang-up is reported.
  std::vector<std::unique_ptr<fcgiclient::FcgiClient>> halfClosed;
  for (size_t cut : {20, 16}) {
    halfClosed.push_back(connect());
    ASSERT_TRUE(halfClosed.back()->sendRaw(encodeRequest({}, "", true, 1).substr(0, cut)));
    ::shutdown(halfClosed.back()->fd(), SHUT_WR);
  }
  // A half header, then a full close.
  auto halfHeader = connect();
  ASSERT_TRUE(halfHeader->sendRaw(std::string("\x01\x01\x00", 3)));
  for (int turn = 0; turn < 20; ++turn) pump();
  halfHeader.reset();
  for (const auto& client : halfClosed) EXPECT_TRUE(client->closedByPeer(1000));
  // Others are still served, and nothing spins on the closed peers.
  EXPECT_EQ(connect()->request({}, "", false, 2).stdoutText, "ok");
  EXPECT_EQ(dispatchedIn(5), 0);
}

TEST_F(FcgiTable, AnswerLargerThanTheSocketBuffersArrivesWholeAndARecordWaitingBehindItIsTakenUp) {
  std::string big(8 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  answerWith(big);
  auto client = connect();
  // The first request and the begin record of the second at once, and nothing read for a while: the first
  // answer fills the socket buffers, and the whole record behind it is taken up without a read once it has left.
  const std::string second = encodeRequest({}, "", false, 78);
  ASSERT_TRUE(client->sendRaw(encodeRequest({}, "", true, 77) + second.substr(0, 16)));
  for (int turn = 0; turn < 20; ++turn) pump();
  const fcgiclient::Reply kept = client->readReply(10000);
  ASSERT_TRUE(client->sendRaw(second.substr(16)));
  const fcgiclient::Reply last = client->readReply(10000);
  for (const auto* reply : {&kept, &last}) {
    EXPECT_TRUE(reply->ended);
    EXPECT_TRUE(reply->stdoutText == big);
  }
  EXPECT_TRUE(client->closedByPeer(2000));  // once the last answer has left
}

TEST_F(FcgiTable, AReaderThatNeverReadsHoldsNobodyUpAndIsGivenUpOnceItStalls) {
  answerWith(std::string(16 << 20, 's'));
  auto stuck = connect();
  // A second request right behind the first is not read while the first answer waits.
  ASSERT_TRUE(stuck->sendRaw(encodeRequest({}, "", true, 1) + encodeRequest({}, "", true, 2)));
  ASSERT_EQ(handler.seen.size(), 1u);
  ASSERT_EQ(fcgi->requests().size(), 1u);
  answerWith("ok");
  EXPECT_EQ(connect()->request({}, "", false, 3).stdoutText, "ok");
  EXPECT_EQ(fcgi->requests().size(), 1u);  // served while the stuck answer still waits

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fcgi->requests().empty() && std::chrono::steady_clock::now() < deadline) pump(10);
  EXPECT_TRUE(fcgi->requests().empty());
  EXPECT_TRUE(stuck->closedByPeer(2000));
  EXPECT_LT(stuck->pendingBytes(), 16u << 20);
  EXPECT_EQ(handler.seen.size(), 2u);
}

TEST_F(FcgiTable, RequestsCompletedWhileThePlacesAreTakenByReadersThatDoNotReadWaitTheirTurnOrAreRefused) {
  fcgi->queueBound = std::chrono::milliseconds(500);
  const std::string answer(1 << 20, 'a');
  answerWith(answer);
  // Forty peers send all but the end of their input, then complete at once, and none reads.
  std::vector<std::unique_ptr<fcgiclient::FcgiClient>> peers;
  const std::string request = encodeRequest({}, "", true, 1);
  const std::string end = fcgiclient::encodeRecord(fcgiclient::kStdin, 1, "");
  for (int i = 0; i < 40; ++i) {
    peers.push_back(connect());
    ASSERT_TRUE(peers.back()->sendRaw(request.substr(0, request.size() - end.size())));
  }
  for (auto& peer : peers) ASSERT_TRUE(peer->sendRaw(end));
  for (int turn = 0; turn < 10; ++turn) pump();
  EXPECT_EQ(handler.seen.size(), Fcgi::kMaxRequests);
  EXPECT_EQ(fcgi->requests().size(), Fcgi::kMaxRequests);
  // What the readers left behind is bounded by the places: the answers wait here and in bounded kernel queues.
  size_t held = 0;
  for (const auto& [id, request] : fcgi->requests()) held += request->unsentBytes();
  EXPECT_GT(held, 0u);
  EXPECT_LE(held, Fcgi::kMaxRequests * answer.size());

  // Readers that take their answers free their places, and the waiting requests are served in turn.
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(peers[i]->readReply(5000).stdoutText.size(), answer.size()) << i;
  for (int turn = 0; turn < 10; ++turn) pump();
  EXPECT_EQ(handler.seen.size(), 40u);
  // While every place is taken one more request on a kept connection is refused once it has waited its bound.
  ASSERT_TRUE(peers[0]->sendRaw(encodeRequest({}, "", true, 2)));
  const auto refused = peers[0]->readReply(3000);
  EXPECT_TRUE(refused.ended);
  EXPECT_TRUE(refused.stdoutText.starts_with("Status: 503 Service Unavailable\r\n")) << refused.stdoutText;
  EXPECT_EQ(handler.seen.size(), 40u);
}

TEST_F(FcgiTable, InputLargerThanMemoryCostsOnlyItsConnection) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than any limit the test could set";
#endif
  EXPECT_TRUE(testsupport::passesInChild([this] {
    size_t mappedPages = 0;
    std::ifstream("/proc/self/statm") >> mappedPages;
    constexpr size_t kRoom = 160u << 20;
    const rlim_t cap = mappedPages * static_cast<size_t>(::sysconf(_SC_PAGESIZE)) + kRoom;
    const rlimit limit{cap, cap};
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);
    // An emulator may not enforce the limit for the program it runs; then there is nothing to see.
    if (void* probe = std::malloc(kRoom)) {
      std::free(probe);
      return;
    }
    answerWith("ok");
    auto greedy = connect();
    ASSERT_TRUE(greedy->sendRaw(encodeRecord(1, 1, std::string("\0\1\0\0\0\0\0\0", 8))));
    // A body beyond its bound is skipped, so what could fill memory is a stream of parameters.
    const std::string value(Request::kMaxContent - 64, 'b');
    bool refused = false;
    for (size_t sent = 0; sent < (512u << 20) && !refused; sent += value.size())
      refused = !greedy->sendRaw(encodeRecord(4, 1, fcgiclient::encodeNameValue(std::to_string(sent), value)));
    EXPECT_TRUE(refused || greedy->closedByPeer(2000));
    EXPECT_EQ(connect()->request({}, "", false, 2).stdoutText, "ok");
  }));
}

TEST_F(FcgiTable, SilentConnectionsBeyondTheDescriptorsLeaveTheReserveFree) {
  answerWith("ok");
  // 200 silent peers against 128 descriptors, in a process of their own as a front's connections are.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const uint16_t port = static_cast<uint16_t>(fcgi->port());
  const pid_t peers = ::fork();
  ASSERT_GE(peers, 0);
  if (peers == 0) {
    std::vector<int> silent;
    for (int i = 0; i < 200; ++i) silent.push_back(fcgiclient::connectTcp("127.0.0.1", port));
    (void)!::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  const rlimit lowered{128, saved.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  ::fcntl(ready[0], F_SETFL, O_NONBLOCK);
  char byte;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (::read(ready[0], &byte, 1) != 1 && std::chrono::steady_clock::now() < deadline) pump(10);
  for (int turn = 0; turn < 20; ++turn) pump(5);
  std::vector<int> opened;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) opened.push_back(fd);
  for (int fd : opened) ::close(fd);
  // Less the diagnostic log's descriptor, opened meanwhile, and the connection that reached the reserve.
  EXPECT_GE(opened.size(), static_cast<size_t>(Fcgi::kReservedDescriptors) - 2);
  EXPECT_EQ(connect()->request({}, "", false, 1).stdoutText, "ok");
  ::kill(peers, SIGKILL);
  ::waitpid(peers, nullptr, 0);
  ::close(ready[0]);
  ::setrlimit(RLIMIT_NOFILE, &saved);
}

TEST_F(FcgiTable, OutOfDescriptorsTheConnectionIdleTheLongestMakesRoomAndWithNoneIdleAcceptingPauses) {
  answerWith("ok");
  auto silentOld = connect();
  pump();
  auto silentNew = connect();
  pump();
  auto served = connect();  // idle as well, but more recently busy
  EXPECT_TRUE(served->request({}, "", true, 1).ended);
  EXPECT_TRUE(served->request({}, "", true, 1).ended);  // through the poll: see DescriptorLimit
  auto late = connect();
  {
    DescriptorLimit limit(0);
    for (int turn = 0; turn < 10; ++turn) pump();
    EXPECT_TRUE(silentOld->closedByPeer(100));
    EXPECT_FALSE(silentNew->closedByPeer(50));
    EXPECT_EQ(late->request({}, "", true, 2).stdoutText, "ok");
    EXPECT_EQ(served->request({}, "", true, 3).stdoutText, "ok");
  }
  // With a request in progress on every connection none is idle, so none is closed to make room.
  silentNew.reset();
  const auto answer = handler.onRequest;
  handler.onRequest = [&](Request* request) {
    if (request->fcgiRequestId() != 9) answer(request);
  };
  ASSERT_TRUE(served->sendRaw(encodeRequest({}, "", true, 9)));
  ASSERT_TRUE(late->sendRaw(encodeRequest({}, "", true, 9)));
  for (int turn = 0; turn < 10; ++turn) pump();
  ASSERT_EQ(fcgi->requests().size(), 2u);
  // Not pumped while it connects and sends, so the listener holds it when descriptors run out.
  bool pumping = false;
  auto waiting = std::make_unique<fcgiclient::FcgiClient>(
      fcgiclient::connectTcp("127.0.0.1", static_cast<uint16_t>(fcgi->port())), [&] {
        if (pumping) pump();
      });
  ASSERT_TRUE(waiting->sendRaw(encodeRequest({}, "", false, 4)));
  {
    DescriptorLimit limit(0);
    // The listener stays readable, yet the loop does not spin on it.
    EXPECT_EQ(dispatchedIn(5), 1);
    // A connection that goes away frees a descriptor; cleanup takes up accepting again.
    served.reset();
    pumping = true;
    EXPECT_EQ(waiting->readReply(2000).stdoutText, "ok");
  }
}

TEST_F(FcgiTable, StandardInputMayHoldAConnectionOrTheListenerHandedOver) {
  answerWith("ok");
  auto client = connect();
  int savedInput = ::dup(0);
  // A service started without standard input takes descriptor 0 for its first connection.
  ::close(0);
  EXPECT_EQ(client->request({}, "", false, 1).stdoutText, "ok");
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(listener, 0);
  ASSERT_EQ(::listen(listener, 10), 0);
  fcgi = std::make_unique<Fcgi>(poll);
  fcgi->requestCallback = &handler;
  EXPECT_EQ(connect()->request({}, "", false, 2).stdoutText, "ok");
  fcgi.reset();
  ::dup2(savedInput, 0);
  ::close(savedInput);
}
