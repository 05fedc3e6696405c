// AMetainfo and its four kinds: the metadata items of a rule (enabled flag, relevance,
// comment, priority), and CreateMetainfo, the factory that builds one from a parsed rule's
// metainfo item.
// Ownership: the factory's result belongs to the caller (delete it); a CommentMetainfo owns
// a copy of its text. Items are immutable once built: safe for concurrent readers.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/parser/item_codes.h"
#include "engines/assl/parser/rule.h"
#include "engines/assl/rules/aitem.h"

namespace assl {

class AMetainfo : public AItem {
 public:
  explicit AMetainfo(std::int32_t specific) noexcept : AItem(kGenericMetainfo, specific) {}
};

class StateMetainfo : public AMetainfo {
 public:
  explicit StateMetainfo(bool enabled) noexcept : AMetainfo(kMetaState), m_enabled(enabled) {}
  bool Enabled() const noexcept { return m_enabled; }

 private:
  bool m_enabled;
};

class RelevanceMetainfo : public AMetainfo {
 public:
  explicit RelevanceMetainfo(std::int32_t value) noexcept
      : AMetainfo(kMetaRelevance), m_value(value) {}
  std::int32_t Value() const noexcept { return m_value; }

 private:
  std::int32_t m_value;
};

class PriorityMetainfo : public AMetainfo {
 public:
  explicit PriorityMetainfo(std::int32_t value) noexcept
      : AMetainfo(kMetaPriority), m_value(value) {}
  std::int32_t Value() const noexcept { return m_value; }

 private:
  std::int32_t m_value;
};

class CommentMetainfo : public AMetainfo {
 public:
  CommentMetainfo() noexcept : AMetainfo(kMetaComment) {}
  const ascommon::sstring& Text() const noexcept { return m_text; }
  // 0, or -2 when the copy cannot be allocated.
  std::int32_t SetText(const char* text) { return m_text.assign(text); }

 private:
  ascommon::sstring m_text;
};

// Builds the metainfo item a parsed item describes. On failure traces the reason ("blackbox
// missing generic item type" / "blackbox missing specific item type" for a type of 0, "the
// container does not represent a metainfo item", "unknown metainfo type", "missing enabled value",
// "missing relevance value", "missing comment value", "missing priority value", "could not
// alloc memory") and returns null.
AMetainfo* CreateMetainfo(const CParsedItem& item);

}  // namespace assl
