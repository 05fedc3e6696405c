// AItem: the record the host passes to a filter's Process.
//
// It embeds the item blackbox (the page's fields and most verdicts) and points to the
// extension blackbox bbext (per-list hits, summary flag, training category). The host owns
// the item and bbext; one filter uses an item at a time.
#pragma once

#include <cstdint>

#include "common/blackbox.h"

class AItem {
 public:
  AItem() = default;
  explicit AItem(ascommon::CBlackBox* pExt) : m_bbext(pExt) {}
  AItem(const AItem&) = delete;
  AItem& operator=(const AItem&) = delete;

  ascommon::CBlackBox& GetBlackBox() { return m_bb; }
  ascommon::CBlackBox* GetExtBlackBox() { return m_bbext; }
  void SetExtBlackBox(ascommon::CBlackBox* pExt) { m_bbext = pExt; }

 private:
  [[maybe_unused]] std::uint64_t m_hostWords[2] = {0, 0};  // host-owned
  ascommon::CBlackBox m_bb;
  ascommon::CBlackBox* m_bbext = nullptr;  // Not owned.
};
