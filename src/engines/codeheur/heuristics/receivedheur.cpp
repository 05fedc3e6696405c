// The delivery-path heuristics of CCodeHeurEngine: the relays of the parsed "Received" lines
// (CHeaderReceived) and the sender headers. Each answers 1.0 when its property holds, else
// 0.0, and fills no feature. Costs: one pass over the hops, with substring searches of the
// host names (O(hops * host length * word length)). Tested by
// tests/engines/codeheur/codeheur_test.cpp.
#include <cstring>

#include "engines/codeheur/codeheurengine.h"
#include "engines/codeheur/heuristics/heurhelpers.h"

using ascommon::usstring;
using codeheur_detail::Contains;
using codeheur_detail::FindHeader;
using codeheur_detail::FindValue;
using nsEmlComponents::CHeaderReceived;

namespace {

// Words of host names that dial-up, cable and other end-user connections carry.
constexpr const char* kDslLikeWords[] = {
    "dsl",  "cable",   "catv", "ddns",    "dhcp",   "dial",     "docsis",
    "dynamic", "dynip", "modem", "ppp",   "resident", "resnet", "bredband",
    "client", "fixed",  "pool",  "static", "user"};

// Free-mail providers that sign their messages with a domain key.
constexpr const char16_t* kSigningProviders[] = {u"yahoo.com", u"gmail.com"};

// Free-mail providers recognised in a recipient domain, and the relay domains their own
// servers name in "Received" lines (searched instead of the recipient domain).
struct CProviderRelays {
  const char16_t* marker;
  const char16_t* relays[2];
};
constexpr CProviderRelays kProviderRelays[] = {
    {u"yahoo.", {u"yahoo.com", nullptr}},
    {u"gmail.", {u"google.com", u"gmail.com"}},
    {u"hotmail.", {u"hotmail.com", u"outlook.com"}},
};

// The parsed "Received" header, or the errors of the hop heuristics; null without a headers map.
const CHeaderReceived* ReceivedHops(assl::ContextInterface* context) {
  AS_TRACE(3, "");
  if (context == nullptr) AS_THROW(0, ASException, "invalid context handle");
  if (context->GetHeaders() == nullptr) return nullptr;
  const nsEmlComponents::CHeader* header = FindHeader(context, "RECEIVED");
  if (header == nullptr) AS_THROW(0, ASException, "Headers \"Received\" not found ");
  if (header->GetKind() != nsEmlComponents::kHeaderReceived)
    AS_THROW(0, ASException, "wrong header type");
  return static_cast<const CHeaderReceived*>(header);
}

bool HasDslLikeWord(const ascommon::sstring& host) {
  if (host.empty()) return false;
  for (const char* word : kDslLikeWords) {
    if (std::strstr(host.c_str(), word) != nullptr) return true;
  }
  return false;
}

bool StartsWith(const char* text, const char* prefix) noexcept {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Whether the address occurs in the host name, its dots standing for any character ("1.2.3.4"
// in "host-1-2-3-4.example"); an address holding anything but digits and dots never does.
bool HostEmbedsAddress(const char* host, const char* address) noexcept {
  for (const char* start = host; *start != '\0'; ++start) {
    if (*start != address[0]) continue;
    const char* h = start;
    const char* a = address;
    for (; *a != '\0' && *h != '\0'; ++a, ++h) {
      if (*a == '.') continue;
      if (*a < '0' || *a > '9' || *a != *h) break;
    }
    if (*a == '\0') return true;
  }
  return false;
}

double Answer(bool holds) noexcept { return holds ? 1.0 : 0.0; }

}  // namespace

double CCodeHeurEngine::HasOneRecv(assl::CEnginesHandle*, assl::ContextInterface* context,
                                   CAFeature*) const {
  const CHeaderReceived* received = ReceivedHops(context);
  return Answer(received != nullptr && received->hops.GetSize() == 1);
}

double CCodeHeurEngine::IpInHostnameRecv(assl::CEnginesHandle*, assl::ContextInterface* context,
                                         CAFeature*) const {
  const CHeaderReceived* received = ReceivedHops(context);
  if (received == nullptr) return 0.0;
  for (std::uint64_t i = 0; i < received->hops.GetSize(); ++i) {
    const nsEmlComponents::CReceivedHop& hop = received->hops[i];
    if (hop.host.empty() || hop.ip.empty()) continue;
    const char* host = hop.host.c_str();
    const char* ip = hop.ip.c_str();
    // A host named by its own address, bare or in brackets, embeds nothing.
    if (StartsWith(host, ip) || StartsWith(host + 1, ip)) continue;
    if (HostEmbedsAddress(host, ip)) return 1.0;
  }
  return 0.0;
}

double CCodeHeurEngine::RecvContainsDslLikeWords(assl::CEnginesHandle*,
                                                 assl::ContextInterface* context,
                                                 CAFeature*) const {
  const CHeaderReceived* received = ReceivedHops(context);
  if (received == nullptr) return 0.0;
  for (std::uint64_t i = 0; i < received->hops.GetSize(); ++i) {
    if (HasDslLikeWord(received->hops[i].host)) return 1.0;
  }
  return 0.0;
}

double CCodeHeurEngine::FirstRecvContainsDslLikeWords(assl::CEnginesHandle*,
                                                      assl::ContextInterface* context,
                                                      CAFeature*) const {
  // The last hop in the list is the earliest relay, the one next to the sender.
  const CHeaderReceived* received = ReceivedHops(context);
  if (received == nullptr || received->hops.IsEmpty()) return 0.0;
  return Answer(HasDslLikeWord(received->hops[received->hops.GetSize() - 1].host));
}

double CCodeHeurEngine::BlankReturnPath(assl::CEnginesHandle*, assl::ContextInterface* context,
                                        CAFeature*) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const usstring* from = FindValue(context, "FROM");
  const usstring* path = FindValue(context, "RETURN-PATH");
  const usstring* type = FindValue(context, "CONTENT-TYPE");
  if (from == nullptr || path == nullptr || type == nullptr || path->is_null()) return 0.0;
  std::size_t open = 0, close = 0;
  const bool emptyPath = path->find(u'<', open) && path->find(u'>', close) && close == open + 1;
  return Answer(emptyPath && !Contains(from, u"MAILER-DAEMON@") &&
                !Contains(type, u"delivery-status") && !Contains(type, u"rfc822"));
}

double CCodeHeurEngine::MissingDK(assl::CEnginesHandle*, assl::ContextInterface* context,
                                  CAFeature*) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const usstring* from = FindValue(context, "FROM");
  bool signingProvider = false;
  for (const char16_t* domain : kSigningProviders) signingProvider |= Contains(from, domain);
  return Answer(signingProvider && FindHeader(context, "LIST-UNSUBSCRIBE") == nullptr &&
                FindHeader(context, "DOMAINKEY-SIGNATURE") == nullptr);
}

double CCodeHeurEngine::FromToDomainsNotInReceived(assl::CEnginesHandle*,
                                                   assl::ContextInterface* context,
                                                   CAFeature*) const {
  ZZ_HEUR_ENTER_MAIL(context);
  const nsEmlComponents::CHeader* to = FindHeader(context, "TO");
  const usstring* received = FindValue(context, "RECEIVED");
  if (to == nullptr || to->GetKind() != nsEmlComponents::kHeaderAddress || received == nullptr)
    return 0.0;
  const auto& addresses = static_cast<const nsEmlComponents::CHeaderAddress*>(to)->addresses;
  if (addresses.GetSize() != 1 || addresses[0].is_null()) return 0.0;
  std::size_t at = 0;
  if (!addresses[0].find(u'@', at) || at + 1 >= addresses[0].length()) return 0.0;
  const usstring domain(addresses[0].c_str() + at + 1);
  if (domain.status() != 0) AS_THROW(0, ASMemException, "memory problems");
  const usstring* copies = FindValue(context, "CC");
  if (copies == nullptr) copies = FindValue(context, "FROM");
  if (!Contains(copies, domain.c_str())) return 0.0;
  for (const CProviderRelays& provider : kProviderRelays) {
    if (!Contains(&domain, provider.marker)) continue;
    for (const char16_t* relay : provider.relays) {
      if (relay != nullptr && Contains(received, relay)) return 0.0;
    }
    return 1.0;
  }
  return Answer(!Contains(received, domain.c_str()));
}
