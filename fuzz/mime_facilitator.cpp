// Fuzz target: any bytes as a mail item's raw message, bound by the MIME facilitator, bound
// again (the parsed message reused), released. Checks: every node reachable from the root,
// depth and part count within their bounds, no body larger than the message, the texts'
// UTF-8 forms present, every listed header name in the headers map, the map's RECEIVED hops
// one per Received line, and the same objects on the second bind.
#include <cstdint>
#include <cstring>

#include "common/blackbox.h"
#include "engines/mimeparser/messagebuilder.h"
#include "engines/mimeparser/mimefacilitator.h"
#include "fuzz_util.h"

namespace {

using namespace nsEmlComponents;

void CheckNode(const CPartsTreeNode& node, std::uint32_t depth, std::uint32_t total,
               std::uint64_t& seen) {
  FUZZ_CHECK(depth <= mimeparser::kMaxDepth);
  ++seen;
  if (node.body != nullptr) {
    FUZZ_CHECK(node.children.IsEmpty() && node.body->size <= total);
    if (node.body->GetType() == kBodyTextPlain) {
      const auto& plain = static_cast<const CPartBodyTextPlain&>(*node.body);
      FUZZ_CHECK(plain.text.length() <= plain.size && plain.textUtf8.status() == 0);
    }
  }
  for (std::uint64_t i = 0; i < node.children.GetSize(); ++i)
    CheckNode(*node.children[i], depth + 1, total, seen);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  ascommon::CBlackBox blackbox;
  FUZZ_CHECK(mimeparser::SetRawMessage(blackbox, reinterpret_cast<const char*>(data), size) == 0);
  mimeparser::CMimeFacilitator facilitator, again;
  FUZZ_CHECK(facilitator.Bind(blackbox) == 0 && again.Bind(blackbox) == 0);
  FUZZ_CHECK(again.GetPartsTree() == facilitator.GetPartsTree() &&
             again.GetHeaders() == facilitator.GetHeaders());
  FUZZ_CHECK(facilitator.GetTotalSize() == size);

  const CPartsTree& tree = *facilitator.GetPartsTree();
  std::uint64_t seen = 0;
  if (tree.GetRoot() != nullptr) CheckNode(*tree.GetRoot(), 1, facilitator.GetTotalSize(), seen);
  FUZZ_CHECK(seen == tree.GetNodeCount() && seen <= mimeparser::kMaxParts);

  const auto& list = *facilitator.GetHeaderList();
  std::uint64_t receivedLines = 0;
  for (std::uint64_t i = 0; i < list.GetSize(); ++i) {
    if (std::strcmp(list[i]->GetName().c_str(), "RECEIVED") == 0) {
      ++receivedLines;
    } else {
      FUZZ_CHECK(facilitator.GetHeaders()->Lookup(list[i]->GetName()) != nullptr);
    }
  }
  CHeader** received = facilitator.GetHeaders()->Lookup("RECEIVED");
  FUZZ_CHECK(received == nullptr
                 ? receivedLines == 0
                 : (*received)->GetKind() == kHeaderReceived &&
                       static_cast<CHeaderReceived*>(*received)->hops.GetSize() == receivedLines);
  facilitator.BodiesHavePhrase(kBodyTextPlain, ascommon::usstring(u"a b"));
  mimeparser::ReleaseRawMessage(blackbox);
  FUZZ_CHECK(blackbox.GetGenericObject(mimeparser::kRawMessageId) == nullptr);
  return 0;
}
