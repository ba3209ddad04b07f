#include "resolve/ns_cashe.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/address_text.h"
#include "support/fake_resolver.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return htonl((std::uint32_t{a} << 24) | (std::uint32_t{b} << 16) | (std::uint32_t{c} << 8) | d);
}

template <typename Condition>
bool WaitUntil(Condition done, std::chrono::milliseconds limit = 5s) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

IpAddress Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return IpAddress::Ipv4(Address(a, b, c, d));
}

template <typename Address>
bool WaitForAnswer(const CNSCashe& cache, const Address& address) {
  return WaitUntil([&] { return cache.Find(address) != nullptr; });
}

TEST(NSCasheTest, SwitchedOffGivesNumericTextPerThreadAndStoresNothing) {
  FakeResolver resolver;
  CNSCashe cache(resolver.AsResolver());
  const std::uint32_t first = Address(10, 0, 0, 1);
  const IpAddress firstIpv6 = ParseAddress("2001:0db8:0000:0000:0000:0000:0000:0001");

  const char* text = cache.Lookup(first);
  const char* textIpv6 = cache.Lookup(firstIpv6);
  EXPECT_STREQ(text, "10.0.0.1");
  EXPECT_STREQ(textIpv6, "2001:db8::1") << "compressed";
  std::thread([&] {
    EXPECT_STREQ(cache.Lookup(Address(172, 16, 5, 4)), "172.16.5.4");
    EXPECT_STREQ(cache.Lookup(ParseAddress("fe80::1")), "fe80::1");
  }).join();
  EXPECT_STREQ(text, "10.0.0.1") << "another thread's call leaves this thread's text alone";
  EXPECT_STREQ(textIpv6, "2001:db8::1");
  EXPECT_STREQ(cache.Lookup(Address(255, 255, 255, 255)), "255.255.255.255");
  EXPECT_STREQ(cache.Lookup(Ipv4(192, 0, 2, 9)), "192.0.2.9") << "an IPv4 address given in full";
  EXPECT_EQ(cache.Find(first), nullptr);
  EXPECT_EQ(cache.Find(firstIpv6), nullptr);
  EXPECT_EQ(resolver.TotalCalls(), 0);

  EXPECT_EQ(cache.SetResolve(1), 0);
  cache.Lookup(first);
  EXPECT_TRUE(WaitUntil([&] { return resolver.Calls(first) == 1; })) << "nothing was kept while off";
}

TEST(NSCasheTest, EachAddressIsResolvedOnceAndItsOutcomeKeptForGood) {
  const struct {
    IpAddress address;
    const char* name;  // null: the resolver finds none
    const char* expected;
  } cases[] = {
      {Ipv4(192, 168, 1, 2), "printer.lan", "printer.lan"},
      {Ipv4(192, 168, 1, 3), nullptr, "192.168.1.3"},
      {Ipv4(0, 0, 0, 0), "zero.lan", "zero.lan"},
      {Ipv4(255, 255, 255, 255), nullptr, "255.255.255.255"},
      {Ipv4(10, 9, 8, 7), "10.9.8.7", "10.9.8.7"},  // numeric answer: no name
      {Ipv4(10, 9, 8, 6), "", "10.9.8.6"},
      {ParseAddress("2001:db8::2"), "printer6.lan", "printer6.lan"},
      {ParseAddress("2001:db8::3"), nullptr, "2001:db8::3"},
      {ParseAddress("::"), "zero6.lan", "zero6.lan"},
      {ParseAddress("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), nullptr, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {ParseAddress("::ffff:10.9.8.5"), nullptr, "::ffff:10.9.8.5"},
      {ParseAddress("2001:db8::7"), "2001:db8::7", "2001:db8::7"},
      {ParseAddress("2001:db8::6"), "", "2001:db8::6"},
      // The bytes of 10.9.8.7 followed by zeros: another address.
      {ParseAddress("a09:807::"), "not-ten.lan", "not-ten.lan"},
  };
  FakeResolver resolver;
  for (const auto& c : cases)
    if (c.name != nullptr) resolver.Name(c.address, c.name);
  const IpAddress faulty[] = {Ipv4(10, 66, 66, 66), ParseAddress("2001:db8::66")};
  for (const IpAddress& address : faulty) resolver.Throw(address);
  CNSCashe cache(resolver.AsResolver());
  cache.SetResolve(1);

  for (const auto& c : cases) cache.Lookup(c.address);
  for (const IpAddress& address : faulty) cache.Lookup(address);
  for (const auto& c : cases) {
    ASSERT_TRUE(WaitForAnswer(cache, c.address)) << c.expected;
    EXPECT_STREQ(cache.Find(c.address), c.expected);
    EXPECT_EQ(cache.Lookup(c.address), cache.Find(c.address)) << "the cached text itself";
  }
  for (const IpAddress& address : faulty) ASSERT_TRUE(WaitForAnswer(cache, address));
  EXPECT_STREQ(cache.Lookup(faulty[0]), "10.66.66.66");
  EXPECT_STREQ(cache.Lookup(faulty[1]), "2001:db8::66");

  resolver.Name(Ipv4(192, 168, 1, 3), "late.lan");
  resolver.Name(ParseAddress("2001:db8::3"), "late6.lan");
  EXPECT_STREQ(cache.Lookup(Ipv4(192, 168, 1, 3)), "192.168.1.3") << "a failure is for good";
  EXPECT_STREQ(cache.Lookup(ParseAddress("2001:db8::3")), "2001:db8::3") << "a failure is for good";
  std::this_thread::sleep_for(20ms);
  for (const auto& c : cases) EXPECT_EQ(resolver.Calls(c.address), 1) << c.expected;
}

TEST(NSCasheTest, SlowAnswerNeverHoldsTheCaller) {
  FakeResolver resolver;
  const std::uint32_t address = Address(192, 168, 7, 7);
  resolver.Name(address, "slow.lan");
  resolver.Hold();
  CNSCashe cache(resolver.AsResolver());
  cache.SetResolve(1);

  const auto start = Clock::now();
  const char* pending = cache.Lookup(address);
  EXPECT_STREQ(pending, "192.168.7.7");
  EXPECT_EQ(cache.Lookup(address), pending) << "asked again while the lookup runs";
  EXPECT_LT(Clock::now() - start, 1s);
  ASSERT_TRUE(WaitUntil([&] { return resolver.InFlight() == 1; }));
  EXPECT_EQ(cache.Find(address), nullptr) << "no answer yet";

  resolver.Release();
  ASSERT_TRUE(WaitForAnswer(cache, address));
  const char* name = cache.Lookup(address);
  EXPECT_STREQ(name, "slow.lan");
  EXPECT_EQ(cache.Lookup(address), name);
  EXPECT_STREQ(pending, "192.168.7.7") << "text handed out earlier stays readable";
  EXPECT_EQ(resolver.Calls(address), 1);
}

TEST(NSCasheTest, SwitchingOffAndOnKeepsTheCache) {
  FakeResolver resolver;
  const std::uint32_t address = Address(10, 1, 1, 1);
  resolver.Name(address, "gateway.lan");
  CNSCashe cache(resolver.AsResolver());
  cache.SetResolve(1);
  cache.Lookup(address);
  ASSERT_TRUE(WaitForAnswer(cache, address));
  const char* name = cache.Lookup(address);

  EXPECT_EQ(cache.SetResolve(0), 1);
  EXPECT_STREQ(cache.Lookup(address), "10.1.1.1");
  EXPECT_EQ(cache.Find(address), name);
  EXPECT_EQ(cache.SetResolve(7), 0);
  EXPECT_EQ(cache.Lookup(address), name);
  EXPECT_EQ(resolver.Calls(address), 1);
}

TEST(NSCasheTest, NamedAnswersAreReportedOnceForTheRefreshPass) {
  FakeResolver resolver;
  const IpAddress named = Ipv4(10, 0, 0, 10);
  const IpAddress unnamed = ParseAddress("2001:db8::11");
  const IpAddress alsoNamed = ParseAddress("2001:db8::12");
  const IpAddress numeric = Ipv4(10, 0, 0, 14);
  resolver.Name(named, "a.lan");
  resolver.Name(alsoNamed, "c.lan");
  resolver.Name(numeric, "10.0.0.14");
  CNSCashe cache(resolver.AsResolver());
  cache.SetResolve(1);
  EXPECT_EQ(cache.NamesGeneration(), 0u);

  for (const IpAddress& address : {named, unnamed, alsoNamed, numeric}) cache.Lookup(address);
  for (const IpAddress& address : {named, unnamed, alsoNamed, numeric}) ASSERT_TRUE(WaitForAnswer(cache, address));
  const std::uint64_t seen = cache.NamesGeneration();
  EXPECT_EQ(seen, 2u) << "a failure or a numeric answer is no name";
  auto taken = cache.TakeNewlyNamed();
  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(taken, (std::vector<IpAddress>{named, alsoNamed})) << "in order: IPv4 before IPv6";
  EXPECT_TRUE(cache.TakeNewlyNamed().empty());
  EXPECT_EQ(cache.NamesGeneration(), seen) << "taking is no news";

  const IpAddress later = ParseAddress("2001:db8::13");
  resolver.Name(later, "d.lan");
  cache.Lookup(later);
  ASSERT_TRUE(WaitUntil([&] { return cache.NamesGeneration() != seen; }));
  EXPECT_EQ(cache.TakeNewlyNamed(), std::vector<IpAddress>{later});
}

TEST(NSCasheTest, LookupsRunOnAFewThreadsAtMost) {
  FakeResolver resolver;
  resolver.Hold();
  CNSCashe cache(resolver.AsResolver(), {.threads = 2});
  cache.SetResolve(1);
  std::vector<IpAddress> addresses;
  for (const char* ipv6 : {"2001:db8::2:1", "2001:db8::2:2", "2001:db8::2:3"}) addresses.push_back(ParseAddress(ipv6));
  for (std::uint8_t last = 1; last <= 3; ++last) addresses.push_back(Ipv4(10, 2, 0, last));

  for (const IpAddress& address : addresses) cache.Lookup(address);
  for (const IpAddress& address : addresses) cache.Lookup(address);
  ASSERT_TRUE(WaitUntil([&] { return resolver.InFlight() == 2; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(resolver.MostInFlight(), 2);

  resolver.Release();
  for (const IpAddress& address : addresses) {
    ASSERT_TRUE(WaitForAnswer(cache, address));
    EXPECT_EQ(resolver.Calls(address), 1);
  }
}

TEST(NSCasheTest, DestructionDoesNotWaitForAHangingLookup) {
  FakeResolver resolver;
  resolver.Hold();
  auto cache = std::make_unique<CNSCashe>(resolver.AsResolver(), resolve::HostNameLimits{.threads = 1});
  cache->SetResolve(1);
  cache->Lookup(Address(10, 3, 0, 1));
  cache->Lookup(Address(10, 3, 0, 2));  // queued behind the hanging one
  ASSERT_TRUE(WaitUntil([&] { return resolver.InFlight() == 1; }));

  const auto start = Clock::now();
  cache.reset();
  EXPECT_LT(Clock::now() - start, 200ms);

  // The late answer must land in state its thread still owns.
  resolver.Release();
  ASSERT_TRUE(WaitUntil([&] { return resolver.Returned() == 1; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(resolver.TotalCalls(), 1) << "queued lookups are dropped";
}

// A flood of new addresses of both families: those that find the queue
// full keep their numeric text at once and for good, the queued ones are
// asked no faster than the rate allows.
TEST(NSCasheTest, LookupsWaitInABoundedQueueAndGoOutAtABoundedRate) {
  FakeResolver resolver;
  std::vector<IpAddress> flood;
  for (int n = 1; n <= 200; ++n) {
    const std::string ipv6 = "2001:db8::4:" + std::to_string(n);
    flood.push_back(n % 2 == 0 ? ParseAddress(ipv6.c_str()) : Ipv4(10, 4, 0, static_cast<std::uint8_t>(n)));
    resolver.Name(flood.back(), "host.lan");
  }
  resolver.Hold();
  const resolve::HostNameLimits limits{.threads = 1, .waiting = 10, .queriesPerSecond = 50, .burst = 1};
  CNSCashe cache(resolver.AsResolver(), limits);
  cache.SetResolve(1);

  cache.Lookup(flood[0]);
  ASSERT_TRUE(WaitUntil([&] { return resolver.InFlight() == 1; }));
  for (const IpAddress& address : flood) cache.Lookup(address);
  for (std::size_t n = 11; n < flood.size(); ++n) {
    ASSERT_NE(cache.Find(flood[n]), nullptr) << n << ": no room to wait, so no lookup to wait for";
    EXPECT_STREQ(cache.Find(flood[n]), cache.Lookup(flood[n]));
  }
  EXPECT_EQ(cache.Find(flood[10]), nullptr) << "waits";

  const auto released = Clock::now();
  resolver.Release();
  for (std::size_t n = 0; n <= 10; ++n) {
    ASSERT_TRUE(WaitForAnswer(cache, flood[n]));
    EXPECT_STREQ(cache.Find(flood[n]), "host.lan");
  }
  // One query was saved up while the first one hung; the nine after it go
  // out at fifty a second.
  EXPECT_GE(Clock::now() - released, 9 * 20ms - 5ms);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(resolver.TotalCalls(), 11);
}

// The bound counts both families together, whichever of them fills it.
TEST(NSCasheTest, AFullCacheShowsNewAddressesAsNumbersWithoutAskingOrKeeping) {
  const struct {
    IpAddress first, second;
  } fillings[] = {
      {Ipv4(10, 5, 0, 1), ParseAddress("2001:db8::5:2")},
      {ParseAddress("2001:db8::5:1"), Ipv4(10, 5, 0, 2)},
  };
  const IpAddress late[] = {Ipv4(10, 5, 0, 3), ParseAddress("2001:db8::5:3")};
  for (const auto& filling : fillings) {
    SCOPED_TRACE(filling.first.ipv6 ? "IPv6 first" : "IPv4 first");
    FakeResolver resolver;
    for (const IpAddress& address : {filling.first, filling.second, late[0], late[1]})
      resolver.Name(address, "named.lan");
    CNSCashe cache(resolver.AsResolver(), {.addresses = 2});
    cache.SetResolve(1);
    cache.Lookup(filling.first);
    cache.Lookup(filling.second);
    EXPECT_STREQ(cache.Lookup(late[0]), "10.5.0.3");
    EXPECT_STREQ(cache.Lookup(late[1]), "2001:db8::5:3");
    ASSERT_TRUE(WaitForAnswer(cache, filling.first));
    ASSERT_TRUE(WaitForAnswer(cache, filling.second));
    EXPECT_STREQ(cache.Lookup(filling.second), "named.lan");
    std::this_thread::sleep_for(20ms);
    for (const IpAddress& address : late) {
      EXPECT_EQ(cache.Find(address), nullptr);
      EXPECT_EQ(resolver.Calls(address), 0);
    }
    EXPECT_STREQ(cache.Lookup(late[1]), "2001:db8::5:3");
  }
}

TEST(NSCasheTest, SystemResolverNamesTheLoopbackAddress) {
  CNSCashe cache;
  cache.SetResolve(1);
  const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
  EXPECT_STREQ(cache.Lookup(loopback), "127.0.0.1") << "the answer is not awaited";
  ASSERT_TRUE(WaitForAnswer(cache, loopback));
  const std::string name = cache.Find(loopback);
  EXPECT_FALSE(name.empty());
  EXPECT_NE(name, "127.0.0.1") << "the local hosts file names the loopback address";
}

}  // namespace
