// CMailItem: one message as a mail item, the way the rule engine's mail context reads it:
// the raw message stored in the item's blackbox, where the MIME facilitator finds it and
// keeps what it parses. The parsed objects belong to the raw message, which the blackbox
// does not delete: the item releases them when it goes, so any context bound to it must go
// first (declare the context after the item).
// Ownership: owns the item. Not thread-safe: one message, one thread.
#pragma once

#include <new>
#include <string>

#include "aitem.h"
#include "engines/mimeparser/mimefacilitator.h"

namespace zzhost {

class CMailItem {
 public:
  // std::bad_alloc when the message cannot be copied into the item.
  explicit CMailItem(const std::string& bytes) {
    if (mimeparser::SetRawMessage(m_item.GetBlackBox(), bytes.data(), bytes.size()) != 0) {
      mimeparser::ReleaseRawMessage(m_item.GetBlackBox());
      throw std::bad_alloc();
    }
  }
  ~CMailItem() { mimeparser::ReleaseRawMessage(m_item.GetBlackBox()); }
  CMailItem(const CMailItem&) = delete;
  CMailItem& operator=(const CMailItem&) = delete;

  AItem& Item() { return m_item; }

 private:
  AItem m_item;
};

}  // namespace zzhost
