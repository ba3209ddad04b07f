#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One question that a name server of a test's own takes from its UDP
// socket, and the answer it sends back.
class DnsQuestion {
 public:
  static constexpr std::uint16_t kA = 1;
  static constexpr std::uint16_t kPtr = 12;
  static constexpr std::uint8_t kNoSuchName = 3;

  // Waits up to `waitMs` for a question; nothing when none came or what
  // came was not one.
  static std::optional<DnsQuestion> Receive(int socket, int waitMs) {
    pollfd ready = {socket, POLLIN, 0};
    if (poll(&ready, 1, waitMs) <= 0) return std::nullopt;
    DnsQuestion question;
    std::uint8_t bytes[512];
    const ssize_t received = recvfrom(socket, bytes, sizeof bytes, 0,
                                      reinterpret_cast<sockaddr*>(&question.m_from), &question.m_fromSize);
    const std::size_t size = received > 0 ? static_cast<std::size_t>(received) : 0;
    std::size_t end = 12;  // the header, then the name's labels, its type and class
    while (end < size && bytes[end] != 0) {
      const std::size_t length = bytes[end];
      if (end + 1 + length >= size) return std::nullopt;
      if (!question.name.empty()) question.name += '.';
      question.name.append(reinterpret_cast<const char*>(bytes) + end + 1, length);
      end += 1 + length;
    }
    end += 5;
    if (end > size) return std::nullopt;
    question.type = static_cast<std::uint16_t>(bytes[end - 4] << 8 | bytes[end - 3]);
    question.m_headerAndQuestion.assign(bytes, bytes + end);
    return question;
  }

  // Sends the answer: one record of the question's name and type holding
  // `data`, or none when it is null; `code` kNoSuchName says that the name
  // does not exist.
  void Answer(int socket, const std::vector<std::uint8_t>* data, std::uint8_t code = 0) const {
    std::vector<std::uint8_t> answer = m_headerAndQuestion;
    answer[2] = 0x81;         // an answer, recursion asked for
    answer[3] = 0x80 | code;  // and available
    answer[6] = 0;
    answer[7] = data != nullptr ? 1 : 0;
    answer[8] = answer[9] = answer[10] = answer[11] = 0;
    if (data != nullptr) {
      const auto high = [](std::size_t value) { return static_cast<std::uint8_t>(value >> 8); };
      const auto low = [](std::size_t value) { return static_cast<std::uint8_t>(value); };
      const std::uint8_t head[] = {0xC0, 0x0C, high(type), low(type), 0, 1, 0, 0, 0, 60, high(data->size()),
                                   low(data->size())};
      answer.insert(answer.end(), head, head + sizeof head);
      answer.insert(answer.end(), data->begin(), data->end());
    }
    sendto(socket, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&m_from), m_fromSize);
  }

  // A name as a record holds it: "v6host.test" is 6 v6host 4 test 0.
  static std::vector<std::uint8_t> Labels(const std::string& dotted) {
    std::vector<std::uint8_t> labels;
    std::string label;
    for (const char c : dotted + '.') {
      if (c != '.') {
        label += c;
        continue;
      }
      labels.push_back(static_cast<std::uint8_t>(label.size()));
      labels.insert(labels.end(), label.begin(), label.end());
      label.clear();
    }
    labels.push_back(0);
    return labels;
  }

  std::string name;  // without the final dot
  std::uint16_t type = 0;

 private:
  sockaddr_storage m_from{};
  socklen_t m_fromSize = sizeof m_from;
  std::vector<std::uint8_t> m_headerAndQuestion;
};
