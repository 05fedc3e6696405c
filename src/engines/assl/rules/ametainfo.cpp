// The metainfo factory: checks the generic and specific type keys in order, then reads the
// one value key of the kind. Tested by tests/engines/assl/metainfo_test.cpp.
#include "engines/assl/rules/ametainfo.h"

#include <new>

#include "common/astrace.h"

namespace assl {

namespace {

AMetainfo* Fail(const char* message) {
  AS_TRACE(0, "%s", message);
  return nullptr;
}

template <class T, class... Args>
AMetainfo* Make(Args... args) {
  T* item = new (std::nothrow) T(args...);
  return item != nullptr ? item : Fail("could not alloc memory");
}

bool HasNumber(const CParsedItem& item, std::uint32_t key) {
  const CItemValue* value = item.Find(key);
  return value != nullptr && value->kind == CItemValue::kNumber;
}

}  // namespace

AMetainfo* CreateMetainfo(const CParsedItem& item) {
  if (item.GenericType() == 0) return Fail("blackbox missing generic item type");
  if (item.SpecificType() == 0) return Fail("blackbox missing specific item type");
  if (item.GenericType() != kGenericMetainfo) {
    return Fail("the container does not represent a metainfo item");
  }
  switch (item.SpecificType()) {
    case kMetaState:
      if (!HasNumber(item, kKeyState)) return Fail("missing enabled value");
      return Make<StateMetainfo>(item.Number(kKeyState) != 0);
    case kMetaRelevance:
      if (!HasNumber(item, kKeyRelevance)) return Fail("missing relevance value");
      return Make<RelevanceMetainfo>(item.Number(kKeyRelevance));
    case kMetaPriority:
      if (!HasNumber(item, kKeyPriority)) return Fail("missing priority value");
      return Make<PriorityMetainfo>(item.Number(kKeyPriority));
    case kMetaComment: {
      if (item.Text(kKeyComment) == nullptr) return Fail("missing comment value");
      auto* comment = new (std::nothrow) CommentMetainfo();
      if (comment == nullptr || comment->SetText(item.Text(kKeyComment)) != 0) {
        delete comment;
        return Fail("could not alloc memory");
      }
      return comment;
    }
    default:
      return Fail("unknown metainfo type");
  }
}

}  // namespace assl
