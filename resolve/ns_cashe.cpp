#include "resolve/ns_cashe.h"

#include <utility>

#include "resolve/host_name_store.h"
#include "resolve/resolver_pool.h"
#include "text/dotted_address.h"

namespace {

thread_local char t_dottedText[kDottedAddressSize];
thread_local char t_ipv6Text[IpAddress::kTextSize];

IpAddress AsIpAddress(std::uint32_t ipv4) { return IpAddress::Ipv4(ipv4); }
const IpAddress& AsIpAddress(const IpAddress& address) { return address; }

}  // namespace

CNSCashe::CNSCashe() : CNSCashe(resolve::ReverseLookupName) {}

CNSCashe::CNSCashe(resolve::ReverseResolver resolver, const resolve::HostNameLimits& limits)
    : m_store(std::make_shared<resolve::HostNameStore>(limits.addresses)),
      m_pool(resolve::ResolverPool::Create(std::move(resolver), m_store, limits)) {}

CNSCashe::~CNSCashe() { m_pool->Close(); }

std::int32_t CNSCashe::SetResolve(std::int32_t value) {
  return m_resolve.exchange(value, std::memory_order_relaxed);
}

const char* CNSCashe::Find(std::uint32_t ipv4) const { return m_store->Answered(ipv4); }

const char* CNSCashe::Find(const IpAddress& address) const { return m_store->Answered(address); }

template <typename Address>
const char* CNSCashe::Sight(const Address& address) {
  if (m_resolve.load(std::memory_order_relaxed) == 0) return nullptr;
  const auto sighting = m_store->Sight(address);
  // No room to wait: the number's text for good, as for a failed lookup.
  if (sighting.firstTime && !m_pool->Request(AsIpAddress(address))) m_store->Answer(AsIpAddress(address), std::nullopt);
  return sighting.text;
}

const char* CNSCashe::Lookup(std::uint32_t ipv4) {
  if (const char* text = Sight(ipv4)) return text;
  FormatDottedAddress(ipv4, t_dottedText);
  return t_dottedText;
}

const char* CNSCashe::Lookup(const IpAddress& address) {
  if (!address.ipv6) return Lookup(address.Ipv4Carried());
  if (const char* text = Sight(address)) return text;
  return FormatIpAddress(address, t_ipv6Text);
}

std::uint64_t CNSCashe::NamesGeneration() const noexcept { return m_store->NamesGeneration(); }

std::vector<IpAddress> CNSCashe::TakeNewlyNamed() { return m_store->TakeNewlyNamed(); }
