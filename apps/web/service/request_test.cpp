#include "apps/web/service/request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/web/service/fcgi_test_fixture.h"

using fcgiclient::encodeLength;
using fcgiclient::encodeNameValue;
using fcgiclient::encodeRecord;
using fcgiclient::encodeRequest;
using fcgiclient::Reply;

namespace {
std::map<std::string, std::string> decode(std::string pairs) {
  Request request(nullptr, 0);
  request.addParams(reinterpret_cast<unsigned char*>(pairs.data()), static_cast<int>(pairs.size()));
  return request.params;
}

// Every stream record of a reply has content, version 1, the request's id and zero padding that
// makes the record a multiple of 8; the last record is END_REQUEST with status 0.
void expectWellFormed(const Reply& reply, uint16_t requestId) {
  ASSERT_TRUE(reply.ended);
  for (const auto& record : reply.records) {
    EXPECT_EQ(record.version, 1);
    EXPECT_EQ(record.requestId, requestId);
    EXPECT_FALSE(record.content.empty()) << "empty record of type " << int(record.type);
    EXPECT_EQ((record.content.size() + record.paddingLength) % 8, 0u);
    EXPECT_EQ(record.padding, std::string(record.paddingLength, '\0'));
  }
  EXPECT_EQ(reply.records.back().content, std::string(8, '\0'));
}

// A kept request whose parameters arrive as the given PARAMS record contents.
std::string withParamRecords(uint16_t id, const std::vector<std::string>& contents) {
  std::string request = encodeRecord(fcgiclient::kBeginRequest, id, std::string("\0\1\1\0\0\0\0\0", 8));
  for (const std::string& content : contents) request += encodeRecord(fcgiclient::kParams, id, content);
  return request + encodeRecord(fcgiclient::kParams, id, "") + encodeRecord(fcgiclient::kStdin, id, "");
}
}  // namespace

TEST(RequestParams, StopsAtMalformedPairsWithoutReadingPastTheRecord) {
  // Both lengths zero end the record.
  EXPECT_EQ(decode(encodeNameValue("A", "1") + encodeNameValue("", "") + encodeNameValue("B", "2")).size(), 1u);
  // A four-byte length cut short ends the record.
  EXPECT_EQ(decode(encodeNameValue("A", "1") + std::string("\x80\x00", 2)).size(), 1u);
  // Lengths that claim more than the record holds.
  EXPECT_TRUE(decode(encodeLength(5) + encodeLength(1) + "AB").empty());
  // Two 31-bit lengths whose sum wraps a 32-bit int must not pass for a small pair.
  EXPECT_TRUE(decode(encodeLength(0x7FFFFFFF) + encodeLength(0x7FFFFFFF) + "AB").empty());
  EXPECT_TRUE(decode(encodeLength(0x7FFFFFF8) + encodeLength(0x10) + std::string(16, 'x')).empty());
  EXPECT_TRUE(decode(encodeLength(1) + encodeLength(0xFFFFFFFF) + "AB").empty());
}

using RequestRecords = FcgiFixture;

TEST_F(RequestRecords, AKeptConnectionGivesEachRequestExactlyItsOwnParametersHoweverTheyAreCut) {
  std::vector<std::string> seen;
  std::vector<bool> markedOnArrival;
  handler.onRequest = [&](Request* request) {
    std::string text;
    for (const auto& [name, value] : request->params) text += name + '=' + value + ';';
    seen.push_back(text);
    // A lookup that inserts and a mark left by a handler belong to their request only.
    request->params["ADDED"];
    markedOnArrival.push_back(request->waits != Waits::Nothing);
    request->waits = Waits::Log;
    request->output() << request->postData;
    request->end();
  };
  auto client = connect();
  auto first = client->request({{"FIRST", "1"}}, "one", true, 1);
  auto second = client->request({{"SECOND", "2"}}, "two", true, 2);
  expectWellFormed(first, 1);
  expectWellFormed(second, 2);
  EXPECT_EQ(first.stdoutText, "Content-type: application/json\r\n\r\none");
  EXPECT_EQ(second.stdoutText, "Content-type: application/json\r\n\r\ntwo");
  ASSERT_EQ(handler.seen.size(), 2u);
  EXPECT_EQ(handler.seen[0], handler.seen[1]);
  EXPECT_TRUE(fcgi->requests().empty());  // between requests the connection holds no place

  // The same names in the same order, one fewer, a repeat and a new name, none, a long value.
  const auto nv = [](const std::string& name, const std::string& value) { return encodeNameValue(name, value); };
  for (const std::string& pairs :
       {nv("A", "1") + nv("B", "2") + nv("C", "3"), nv("A", "4") + nv("B", "5") + nv("C", "6"),
        nv("A", "7") + nv("C", "8"), nv("A", "w") + nv("C", "9") + nv("A", "x") + nv("D", "y") + nv("A", "z"),
        std::string(), nv("A", std::string(300, 'l'))}) {
    ASSERT_TRUE(client->sendRaw(withParamRecords(1, {pairs})));
    EXPECT_TRUE(client->readReply(2000).ended);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"FIRST=1;", "SECOND=2;", "A=1;B=2;C=3;", "A=4;B=5;C=6;", "A=7;C=8;",
                                            "A=z;C=9;D=y;", "", "A=" + std::string(300, 'l') + ";"}));

  // A cookie longer than a record, so that long lengths, names and values are all cut somewhere.
  std::string cookie(70000, 'c');
  for (size_t i = 0; i < cookie.size(); i += 7) cookie[i] = static_cast<char>('a' + i % 26);
  const std::string stream =
      nv("SCRIPT_NAME", "/x") + nv("HTTP_COOKIE", cookie) + nv(std::string(200, 'N'), "v") + nv("QUERY_STRING", "");
  for (size_t cut : {size_t{1}, size_t{5}, size_t{64}, size_t{65535}}) {
    SCOPED_TRACE(cut);
    std::vector<std::string> records;
    for (size_t at = 0; at < stream.size(); at += cut) records.push_back(stream.substr(at, cut));
    ASSERT_TRUE(client->sendRaw(withParamRecords(7, records)));
    expectWellFormed(client->readReply(20000), 7);
    EXPECT_TRUE(seen.back() ==
                "HTTP_COOKIE=" + cookie + ";" + std::string(200, 'N') + "=v;QUERY_STRING=;SCRIPT_NAME=/x;");
  }
  // A pair the stream never completes is dropped, and leaves nothing for the next request.
  ASSERT_TRUE(client->sendRaw(withParamRecords(9, {nv("A", "1") + nv("B", "22").substr(0, 3)})));
  EXPECT_TRUE(client->readReply(2000).ended);
  EXPECT_EQ(seen.back(), "A=1;");
  EXPECT_TRUE(client->request({{"C", "3"}}, "", true, 10).ended);
  EXPECT_EQ(seen.back(), "C=3;");
  // A pair longer than the bound ends its record; the next record starts a fresh pair.
  ASSERT_TRUE(client->sendRaw(
      withParamRecords(11, {encodeLength(Request::kMaxParamPair) + encodeLength(1) + "xyz", nv("D", "4")})));
  EXPECT_TRUE(client->readReply(2000).ended);
  EXPECT_EQ(seen.back(), "D=4;");
  EXPECT_EQ(markedOnArrival, std::vector<bool>(seen.size(), false));
  // The last request without keep-alive closes the connection after its end record.
  EXPECT_TRUE(client->request({}, "", false, 3).ended);
  EXPECT_TRUE(client->closedByPeer(100));
}

TEST_F(RequestRecords, ChunksStdoutAtTheRecordLimitAndPadsOnlyTheLastRecord) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{8}, size_t{65528}, size_t{65529}, size_t{200000}}) {
    SCOPED_TRACE(size);
    std::string text(size, 'x');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    answerWith(text);
    auto reply = connect()->request({{"SCRIPT_NAME", "/x"}}, "", false, 0x1234);
    expectWellFormed(reply, 0x1234);
    EXPECT_EQ(reply.stdoutText, text);
    size_t stdoutRecords = reply.records.size() - 1;
    EXPECT_EQ(stdoutRecords, (size + Request::kMaxContent - 1) / Request::kMaxContent);
    for (size_t i = 0; i < stdoutRecords; ++i) {
      bool last = i + 1 == stdoutRecords;
      EXPECT_EQ(reply.records[i].content.size(), last ? size - i * Request::kMaxContent : Request::kMaxContent);
      EXPECT_TRUE(last || reply.records[i].paddingLength == 0);
    }
  }
}

TEST_F(RequestRecords, JsonHeadOnceAndFlushAtTheNextOutputAfterTheThreshold) {
  Request* served = nullptr;
  handler.onRequest = [&](Request* request) {
    served = request;
    request->output() << "{";
    request->output() << std::string(Request::kFlushThreshold, 'a');  // not yet flushed: flush comes before a write
  };
  auto client = connect();
  ASSERT_TRUE(client->sendRaw(encodeRequest({}, "", true, 3)));
  for (int turn = 0; turn < 100 && served == nullptr; ++turn) pump();
  ASSERT_NE(served, nullptr);
  EXPECT_FALSE(client->readRecord(20).has_value());
  served->output() << "}";
  // Sent as an answer in progress: the kernel may hold it a little while for what follows.
  auto flushed = client->readRecord(1000);
  ASSERT_TRUE(flushed.has_value());
  EXPECT_EQ(flushed->content, "Content-type: application/json\r\n\r\n{" + std::string(Request::kFlushThreshold, 'a'));
  served->output();
  served->sendError();  // nothing written to it: no record
  served->end();
  auto reply = client->readReply(1000);
  expectWellFormed(reply, 3);
  EXPECT_EQ(reply.stdoutText, "}");
  EXPECT_EQ(reply.records.size(), 2u);
}

namespace {
// Counts what reaches it; takes no more after `limit` bytes.
struct CountingSink : BodySink {
  CountingSink(size_t& pieces, size_t& bytes, size_t limit) : pieces(pieces), bytes(bytes), limit(limit) {}
  bool take(std::string_view piece) override {
    ++pieces;
    bytes += piece.size();
    return bytes < limit;
  }
  size_t& pieces;
  size_t& bytes;
  size_t limit;
};
}  // namespace

TEST_F(RequestRecords, ABodyGoesToItsSinkAsItArrivesOrIsHeldWithinItsBoundAndTheLargestRecordIsTakenWhole) {
  size_t pieces = 0, bytes = 0, limit = SIZE_MAX;
  bool passedOn = false;
  std::string received;
  handler.onParams = [&](Request* request) {
    if (request->param("SCRIPT_NAME") == "/sink")
      request->streamBodyTo(std::make_unique<CountingSink>(pieces, bytes, limit));
  };
  handler.onRequest = [&](Request* request) {
    passedOn = true;
    received = request->postData;
    request->output() << request->postData.size() << (request->bodySink() != nullptr ? " sink" : "");
    request->end();
  };
  auto client = connect();
  // Records of a 300000-byte body reach the sink one by one; nothing is held.
  EXPECT_EQ(client->request({{"SCRIPT_NAME", "/sink"}}, std::string(300000, 's'), true, 1).stdoutText,
            "Content-type: application/json\r\n\r\n0 sink");
  EXPECT_EQ(bytes, 300000u);
  EXPECT_GE(pieces, 300000u / 65535);
  // A sink that takes no more is given no more; the request is still answered.
  pieces = bytes = 0;
  limit = 1;
  EXPECT_TRUE(client->request({{"SCRIPT_NAME", "/sink"}}, std::string(300000, 's'), true, 2).ended);
  EXPECT_EQ(pieces, 1u);

  // Without a sink a body is held up to its bound; beyond it, the request is refused without the handler.
  EXPECT_EQ(client->request({}, std::string(Request::kMaxHeldBody, 'h'), true, 3).stdoutText,
            "Content-type: application/json\r\n\r\n" + std::to_string(Request::kMaxHeldBody));
  passedOn = false;
  const Reply refused = client->request({}, std::string(Request::kMaxHeldBody + 1, 'h'), true, 4);
  expectWellFormed(refused, 4);
  EXPECT_TRUE(refused.stdoutText.starts_with("Status: 413 Payload Too Large\r\n")) << refused.stdoutText;
  EXPECT_FALSE(passedOn);
  // And the connection serves its next request.
  EXPECT_EQ(client->request({}, "next", true, 5).stdoutText, "Content-type: application/json\r\n\r\n4");

  // The largest record: 65535 bytes of content and 255 of padding, whole and in pieces.
  std::string upload(65535, '\0');
  for (size_t i = 0; i < upload.size(); ++i) upload[i] = static_cast<char>(i * 7);
  const std::string largest =
      encodeRecord(fcgiclient::kBeginRequest, 8, std::string(8, '\0')) + encodeRecord(fcgiclient::kParams, 8, "") +
      encodeRecord(fcgiclient::kStdin, 8, upload, 255) + encodeRecord(fcgiclient::kStdin, 8, "");
  for (size_t split : {size_t{0}, size_t{65536}, size_t{1000}}) {
    received.clear();
    auto single = connect();
    ASSERT_TRUE(single->sendRaw(largest, split));
    EXPECT_TRUE(single->readReply(2000).ended);
    EXPECT_EQ(received, upload);
  }
}

namespace {
// Counts `size` bytes down, each the low byte of its offset.
struct CountingSource : BodySource {
  explicit CountingSource(size_t size) : left(size) {}
  long long read(char* buffer, size_t size) override {
    size_t n = std::min(size, left);
    for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<char>(sent++);
    left -= n;
    return static_cast<long long>(n);
  }
  size_t left;
  size_t sent = 0;
};
}  // namespace

TEST_F(RequestRecords, AnAnswerFromASourceLeavesAsTheReaderTakesItAndTheNextRequestWaitsForItsEnd) {
  static constexpr size_t kSize = 5 << 20;  // several turns' worth of pieces
  handler.onRequest = [](Request* request) {
    request->writeHeader("");
    if (request->param("SOURCE") == "yes") request->sendFrom(std::make_unique<CountingSource>(kSize));
    request->output() << "head;";
    request->end();
  };
  auto client = connect();
  // The second request comes right behind the first, before its answer has begun to leave.
  ASSERT_TRUE(client->sendRaw(encodeRequest({{"SOURCE", "yes"}}, "", true, 1) + encodeRequest({}, "", true, 2)));
  const Reply streamed = client->readReply();
  expectWellFormed(streamed, 1);
  ASSERT_EQ(streamed.stdoutText.size(), 5 + kSize);
  EXPECT_EQ(streamed.stdoutText.substr(0, 5), "head;");
  for (size_t i = 0; i < kSize; i += 4099) ASSERT_EQ(static_cast<unsigned char>(streamed.stdoutText[5 + i]), i & 0xFF);
  const Reply next = client->readReply();
  expectWellFormed(next, 2);
  EXPECT_EQ(next.stdoutText, "head;");
}
