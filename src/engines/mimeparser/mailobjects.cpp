// The headers object's clean-up: the list's headers, then the map's headers that are not in
// the list (found with a pointer set, so a rule run that added many headers costs
// O(headers), not O(headers^2)).
#include "engines/mimeparser/mailobjects.h"

#include <new>
#include <unordered_set>

namespace mimeparser {

CMessageHeaders::CMessageHeaders() {
  if (map.InitHashTable(64) != 0) throw std::bad_alloc();
}

CMessageHeaders::~CMessageHeaders() {
  try {
    std::unordered_set<const nsEmlComponents::CHeader*> listed;
    for (std::uint64_t i = 0; i < list.GetSize(); ++i) listed.insert(list[i]);
    map.ForEach([&listed](const ascommon::sstring&, nsEmlComponents::CHeader* const& header) {
      if (listed.count(header) == 0) delete header;
    });
  } catch (const std::bad_alloc&) {
    // No memory for the set: the map's extra headers leak rather than risk a double delete.
  }
  for (std::uint64_t i = 0; i < list.GetSize(); ++i) delete list[i];
}

}  // namespace mimeparser
