#include "capture_helper/filter_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What is answered, in turn, until nothing waits: "~" for a superseded
// request, else the request's expression (or its refusal).
std::vector<std::string> Answers(FilterQueue& queue) {
  std::vector<std::string> answers;
  FilterQueue::Request request;
  for (FilterQueue::Next next; (next = queue.Take(request)) != FilterQueue::Next::kNothing;)
    answers.push_back(next == FilterQueue::Next::kSuperseded ? "~" : request.expression + request.refusal);
  return answers;
}

// While one is compiled, those that come wait: the newest is compiled
// next, and the ones before it are answered first, in their order.
TEST(FilterQueueTest, TheNewestWaitsAndTheOlderAreAnsweredFirst) {
  FilterQueue queue;
  EXPECT_TRUE(Answers(queue).empty());
  queue.Push({"udp", ""});
  EXPECT_EQ(Answers(queue), (std::vector<std::string>{"udp"}));
  EXPECT_TRUE(queue.Empty());

  queue.Push({"tcp", ""});
  queue.Push({"", "filter expression too long"});
  queue.Push({"icmp", ""});
  EXPECT_FALSE(queue.Empty());
  EXPECT_EQ(Answers(queue), (std::vector<std::string>{"~", "~", "icmp"}));

  queue.Push({"", "filter expression holds a NUL byte"});
  EXPECT_EQ(Answers(queue), (std::vector<std::string>{"filter expression holds a NUL byte"}));
}

}  // namespace
