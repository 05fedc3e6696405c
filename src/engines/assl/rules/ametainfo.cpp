// The metainfo factory: checks the generic and specific type keys in order, then reads the
// one value key of the kind. Tested by tests/engines/assl/metainfo_test.cpp.
#include "engines/assl/rules/ametainfo.h"

#include <new>

#include "common/astrace.h"

namespace assl {

using ascommon::CBlackBox;

namespace {

bool HasInt(const CBlackBox& box, std::uint32_t key) {
  return box.GetKind(key) == CBlackBox::kScalar;
}

AMetainfo* Fail(const char* message) {
  AS_TRACE(0, "%s", message);
  return nullptr;
}

template <class T, class... Args>
AMetainfo* Make(Args... args) {
  T* item = new (std::nothrow) T(args...);
  return item != nullptr ? item : Fail("could not alloc memory");
}

}  // namespace

AMetainfo* CreateMetainfo(const CBlackBox& box) {
  if (!HasInt(box, kKeyGenericType)) return Fail("blackbox missing generic item type");
  if (!HasInt(box, kKeySpecificType)) return Fail("blackbox missing specific item type");
  if (box.GetInt(kKeyGenericType) != kGenericMetainfo) {
    return Fail("the container does not represent a metainfo item");
  }
  switch (box.GetInt(kKeySpecificType)) {
    case kMetaState:
      if (!HasInt(box, kKeyState)) return Fail("missing enabled value");
      return Make<StateMetainfo>(box.GetInt(kKeyState) != 0);
    case kMetaRelevance:
      if (!HasInt(box, kKeyRelevance)) return Fail("missing relevance value");
      return Make<RelevanceMetainfo>(box.GetInt(kKeyRelevance));
    case kMetaPriority:
      if (!HasInt(box, kKeyPriority)) return Fail("missing priority value");
      return Make<PriorityMetainfo>(box.GetInt(kKeyPriority));
    case kMetaComment: {
      if (box.GetKind(kKeyComment) != CBlackBox::kText) return Fail("missing comment value");
      auto* item = new (std::nothrow) CommentMetainfo();
      if (item == nullptr || item->SetText(box.GetCharBuf(kKeyComment)) != 0) {
        delete item;
        return Fail("could not alloc memory");
      }
      return item;
    }
    default:
      return Fail("unknown metainfo type");
  }
}

}  // namespace assl
