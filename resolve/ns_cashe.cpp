#include "resolve/ns_cashe.h"

#include <utility>

#include "resolve/dotted_address.h"
#include "resolve/host_name_store.h"
#include "resolve/resolver_pool.h"

namespace {

thread_local char t_dottedText[resolve::kDottedAddressSize];

}  // namespace

CNSCashe::CNSCashe() : CNSCashe(resolve::ReverseLookupName) {}

CNSCashe::CNSCashe(resolve::ReverseResolver resolver, const resolve::HostNameLimits& limits)
    : m_store(std::make_shared<resolve::HostNameStore>(limits.addresses)),
      m_pool(resolve::ResolverPool::Create(std::move(resolver), m_store, limits)) {}

CNSCashe::~CNSCashe() { m_pool->Close(); }

std::int32_t CNSCashe::SetResolve(std::int32_t value) {
  return m_resolve.exchange(value, std::memory_order_relaxed);
}

const char* CNSCashe::Find(std::uint32_t address) const { return m_store->Answered(address); }

const char* CNSCashe::Lookup(std::uint32_t address) {
  const auto sighting = m_resolve.load(std::memory_order_relaxed) != 0
                            ? m_store->Sight(address)
                            : resolve::HostNameStore::Sighting{nullptr, false};
  if (sighting.text == nullptr) {
    resolve::FormatDottedAddress(address, t_dottedText);
    return t_dottedText;
  }
  // No room to wait: the dotted text for good, as for a failed lookup.
  if (sighting.firstTime && !m_pool->Request(address)) m_store->Answer(address, std::nullopt);
  return sighting.text;
}

std::uint64_t CNSCashe::NamesGeneration() const noexcept { return m_store->NamesGeneration(); }

std::vector<std::uint32_t> CNSCashe::TakeNewlyNamed() { return m_store->TakeNewlyNamed(); }
