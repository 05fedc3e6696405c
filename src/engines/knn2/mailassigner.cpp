// One assignment pass: each item walks the centers in order, measuring each with a cut-off
// at the best distance found so far (which starts at the item's join radius), and joins the
// nearest center within its radius; a center at distance 0 ends the walk. O(items x
// centers) feature-set distances at worst, fewer with the cut-offs. Only the distance of
// each item to the center it joined is kept in the center-to-item matrix: one cell per item
// instead of centers x items (at 30,000 items and 3,000 first centers the full matrix
// would be 90 million map cells, several gigabytes). Tested by
// tests/engines/knn2/training_test.cpp.
#include "engines/knn2/mailassigner.h"

#include "common/astrace.h"

std::vector<std::uint32_t> MailAssigner::AssignMails(std::vector<Cluster>& centers) {
  if (centers.size() != m_centersDistances.GetNumberOfElems()) {
    AS_THROW(0, ASException, "centers.size() != _centersDistanceMatrix.GetNumberOfElems(), %d != %d",
             static_cast<int>(centers.size()),
             static_cast<int>(m_centersDistances.GetNumberOfElems()));
  }
  if (centers.size() != m_centersToItems.GetNumberOfLines()) {
    AS_THROW(0, ASException, "centers.size()!=_centersToItemsLowerDistanceMatrix.GetNumberOfLines(). %d != %d",
             static_cast<int>(centers.size()),
             static_cast<int>(m_centersToItems.GetNumberOfLines()));
  }
  if (m_items.size() > m_centersToItems.GetNumberOfColumns()) {
    AS_THROW(0, ASException, "_mailCollection.size() = %d > _TotalNrOfMails = %d",
             static_cast<int>(m_items.size()),
             static_cast<int>(m_centersToItems.GetNumberOfColumns()));
  }
  for (std::uint32_t c = 0; c < centers.size(); ++c) {
    centers[c].ClearItems();
    m_centersToItems.ClearLine(c);
  }
  std::vector<std::uint32_t> unassigned;
  for (std::uint32_t i = 0; i < m_items.size(); ++i) {
    ItemDescriptor& item = m_items[i];
    std::uint32_t chosen = UINT32_MAX;
    for (std::uint32_t c = 0; c < centers.size(); ++c) {
      bool cut = false;
      const float d = centers[c].DistanceWithin(*item.fSet, item.firstDistance, cut);
      if (cut) continue;  // farther than the best so far
      if (chosen == UINT32_MAX || d < item.firstDistance) {
        chosen = c;
        item.firstDistance = d;
        if (d == 0.0f) break;
      }
    }
    if (chosen == UINT32_MAX) {
      unassigned.push_back(i);
      continue;
    }
    item.clusterIndex = chosen;
    item.secondDistance = item.firstDistance;
    m_centersToItems.Set(chosen, i, item.firstDistance);
    centers[chosen].AddItem(&item);
  }
  return unassigned;
}
