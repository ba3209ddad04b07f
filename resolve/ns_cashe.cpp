#include "resolve/ns_cashe.h"

#include <utility>

#include "resolve/dotted_address.h"
#include "resolve/host_name_store.h"
#include "resolve/resolver_pool.h"

namespace {

thread_local char t_dottedText[resolve::kDottedAddressSize];

}  // namespace

CNSCashe::CNSCashe() : CNSCashe(resolve::ReverseLookupName) {}

CNSCashe::CNSCashe(resolve::ReverseResolver resolver, unsigned resolverThreads)
    : m_store(std::make_shared<resolve::HostNameStore>()),
      m_pool(resolve::ResolverPool::Create(std::move(resolver), m_store, resolverThreads)) {}

CNSCashe::~CNSCashe() { m_pool->Close(); }

std::int32_t CNSCashe::SetResolve(std::int32_t value) {
  return m_resolve.exchange(value, std::memory_order_relaxed);
}

const char* CNSCashe::Find(std::uint32_t address) const { return m_store->Answered(address); }

const char* CNSCashe::Lookup(std::uint32_t address) {
  if (m_resolve.load(std::memory_order_relaxed) == 0) {
    resolve::FormatDottedAddress(address, t_dottedText);
    return t_dottedText;
  }
  const auto sighting = m_store->Sight(address);
  if (sighting.firstTime) m_pool->Request(address);
  return sighting.text;
}

std::uint64_t CNSCashe::NamesGeneration() const noexcept { return m_store->NamesGeneration(); }

std::vector<std::uint32_t> CNSCashe::TakeNewlyNamed() { return m_store->TakeNewlyNamed(); }
