// The change feed of the running service: sequence heads, requests naming the last change seen, refused
// sequences, and followers that take their time while changes arrive at random moments.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/sandbox_harness.h"

namespace {

using namespace std::chrono_literals;

struct Answer {
  std::string head;
  std::string body;
  uint64_t sequence = 0;
  bool reload = false;
};

// Head and body of an ended reply; the sequence and the reload request read from the head.
Answer answerOf(const fcgiclient::Reply& reply) {
  const size_t end = reply.stdoutText.find("\r\n\r\n");
  if (!reply.ended || end == std::string::npos)
    throw std::runtime_error("no answer: " + reply.stdoutText.substr(0, 200));
  Answer answer{reply.stdoutText.substr(0, end + 4), reply.stdoutText.substr(end + 4)};
  const std::string prefix = "Content-type: application/json\r\nX-Change-Sequence: ";
  if (!answer.head.starts_with(prefix)) throw std::runtime_error("head: " + answer.head);
  size_t digits = 0;
  answer.sequence = std::stoull(answer.head.substr(prefix.size()), &digits);
  const std::string rest = answer.head.substr(prefix.size() + digits);
  answer.reload = rest == "\r\nX-Change-Reload: 1\r\n\r\n";
  if (!answer.reload && rest != "\r\n\r\n") throw std::runtime_error("head: " + answer.head);
  return answer;
}

// Parses as a strict reader would: a key repeated within one object fails, as any malformed text does.
nlohmann::json parseStrictly(const std::string& text) {
  std::vector<std::set<std::string>> keys;
  return nlohmann::json::parse(text, [&keys](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    if (event == Event::object_start) keys.emplace_back();
    if (event == Event::object_end) keys.pop_back();
    if (event == Event::key && !keys.back().insert(parsed.get<std::string>()).second)
      throw std::runtime_error("repeated key " + parsed.get<std::string>());
    return true;
  });
}

Answer askSince(fcgiclient::FcgiClient& client, const std::string& since, uint16_t id = 1, int timeoutMs = 5000) {
  return answerOf(client.request({{"SCRIPT_NAME", "/api/v1/update.cgi"}, {"QUERY_STRING", "since=" + since}}, "", true,
                                 id, 0, timeoutMs));
}

void set(fcgiclient::FcgiClient& client, const std::string& memory, const std::string& name, const std::string& value) {
  const std::string answer = call(client, "/api/v1/set.cgi", "{'" + memory + "':{'" + name + "':'" + value + "'}}");
  if (answer != "{\"result\": 1 }") throw std::runtime_error(memory + "." + name + ": " + answer);
}

TEST(ChangeFeed, SequenceHeadsChangesAfterASequenceAndRefusedSequences) {
  Sandbox unit;
  auto client = connectService(unit);
  auto writer = connectService(unit);
  const auto before =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch());
  const Answer whole = answerOf(client->request({{"SCRIPT_NAME", "/api/v1/all.cgi"}}, "", true, 3));
  // Numbered from the service's start on the clock, so no earlier process's numbers are taken for its own.
  EXPECT_LT(whole.sequence, static_cast<uint64_t>(before.count()));
  EXPECT_GT(whole.sequence, static_cast<uint64_t>(before.count()) - 120'000'000);
  EXPECT_FALSE(whole.reload);
  EXPECT_TRUE(parseStrictly(whole.body)["variables"].contains("MemApp"));
  const std::string start = std::to_string(whole.sequence);

  // Nothing changed after it: the request waits, and the first change answers it.
  client->sendRaw(fcgiclient::encodeRequest({{"SCRIPT_NAME", "/api/v1/update.cgi"}, {"QUERY_STRING", "since=" + start}},
                                            "", true, 4));
  EXPECT_FALSE(client->readRecord(400).has_value());
  set(*writer, "MemPersistent", "AUXTorque", "2");
  const Answer first = answerOf(client->readReply(3000));
  EXPECT_GT(first.sequence, whole.sequence);
  // The update document of one change of AUXTorque, for the request id given.
  const auto torque = [](char id, char value) {
    return std::string("{\r\n\"id\": ") + id +
           ",\r\n\"errors\": [],\r\n\"variables\": {\r\n  \"MemPersistent\" : {\r\n    \"AUXTorque\" : "
           "{\"max\":\"4\",\"min\":\"1\",\"type\":\"int\",\"value\":\"" +
           value + "\"}\r\n  }\r\n}\r\n}\r\n";
  };
  EXPECT_EQ(first.body, torque('4', '2'));

  // Changes already known answer at once.
  EXPECT_EQ(askSince(*client, start, 5, 1000).body, torque('5', '2'));

  // Sequences this process cannot vouch for: an empty document at once, asking for the whole state again.
  const uint64_t beforeStart = static_cast<uint64_t>(before.count()) - 200'000'000;
  for (const std::string& refused : {std::string("0"), std::string("x1"), std::to_string(beforeStart),
                                     std::to_string(first.sequence + 1), std::string("")}) {
    const Answer answer = askSince(*client, refused, 7, 1000);
    EXPECT_TRUE(answer.reload) << refused;
    EXPECT_EQ(answer.sequence, first.sequence) << refused;
    EXPECT_EQ(answer.body, "{\r\n\"id\": 7,\r\n\"errors\": [],\r\n\"variables\": {\r\n}\r\n}\r\n") << refused;
  }

  // The HTTP front passes both heads on.
  std::string output;
  ASSERT_EQ(unit.startHttpFront(&output), 0) << output;
  ASSERT_EQ(unit.run("curl -s -m 10 -D - -o /dev/null 'http://127.0.0.1:8080/api/v1/update.cgi?since=1'", &output), 0);
  EXPECT_NE(output.find("\r\nX-Change-Sequence: " + std::to_string(first.sequence) + "\r\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("\r\nX-Change-Reload: 1\r\n"), std::string::npos) << output;
}

// Asks for the changes after the last sequence it got, waits `pause`, and stops once `last` has its final value.
struct Follower {
  std::chrono::milliseconds pause{0};
  std::map<std::string, std::string> seen;  // "Memory.Variable" → value
  std::string failure;

  bool saw(const std::string& variable, const std::string& value) const {
    const auto found = seen.find(variable);
    return found != seen.end() && std::stod(found->second) == std::stod(value);
  }

  void run(const Sandbox& unit, uint64_t sequence, const std::string& last, const std::string& lastValue) {
    try {
      auto client = connectService(unit);
      for (uint16_t id = 1; !saw(last, lastValue); id = id % 1000 + 1) {
        const Answer answer = askSince(*client, std::to_string(sequence), id, 10000);
        if (answer.reload) throw std::runtime_error("asked to reload");
        if (answer.sequence <= sequence) throw std::runtime_error("the sequence did not grow");
        const nlohmann::json document = parseStrictly(answer.body);
        for (const auto& [memory, members] : document.at("variables").items())
          for (const auto& [name, value] : members.items())
            if (value.is_object() && value.contains("value") && value["value"].is_string())
              seen[memory + "." + name] = value["value"].get<std::string>();
        sequence = answer.sequence;
        std::this_thread::sleep_for(pause);
      }
    } catch (const std::exception& error) {
      failure = error.what();
    }
  }
};

TEST(ChangeFeed, FollowersThatWaitBeforeAskingAgainLoseNoChange) {
  Sandbox unit;
  auto writer = connectService(unit);
  const Answer whole = answerOf(writer->request({{"SCRIPT_NAME", "/api/v1/all.cgi"}}, "", true, 1));
  // Float variables of three memories, each written once: every write is a value a follower must end with.
  std::vector<std::pair<std::string, std::string>> targets;
  const nlohmann::json state = parseStrictly(whole.body);
  for (const auto& [memory, members] : state.at("variables").items()) {
    if (memory != "MemPersistent" && memory != "MemDynamic" && memory != "MemDistanceMeasure") continue;
    unsigned int taken = 0;
    for (const auto& [name, value] : members.items())
      if (value.is_object() && value.value("type", "") == "float" && taken++ < 20) targets.emplace_back(memory, name);
  }
  ASSERT_EQ(targets.size(), 60u);
  std::mt19937 random(std::random_device{}());
  std::shuffle(targets.begin(), targets.end(), random);
  const auto valueOf = [](size_t index) { return std::to_string(1000 + index) + ".25"; };
  const std::string last = targets.back().first + "." + targets.back().second;

  std::vector<Follower> followers(3);
  for (size_t index = 0; index < followers.size(); ++index)
    followers[index].pause = std::vector{0ms, 30ms, 150ms}[index];
  std::vector<std::thread> threads;
  for (Follower& follower : followers)
    threads.emplace_back(
        [&, sequence = whole.sequence] { follower.run(unit, sequence, last, valueOf(targets.size() - 1)); });
  std::uniform_int_distribution<int> gap(0, 40);
  for (size_t index = 0; index < targets.size(); ++index) {
    std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
    set(*writer, targets[index].first, targets[index].second, valueOf(index));
  }
  for (std::thread& thread : threads) thread.join();

  for (const Follower& follower : followers) {
    EXPECT_EQ(follower.failure, "") << follower.pause.count() << " ms";
    unsigned int lost = 0;
    for (size_t index = 0; index < targets.size(); ++index)
      lost += !follower.saw(targets[index].first + "." + targets[index].second, valueOf(index));
    EXPECT_EQ(lost, 0u) << "follower pausing " << follower.pause.count() << " ms";
  }
}

}  // namespace
