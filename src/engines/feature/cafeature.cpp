// The base of every feature (its owned normalizator) and the distance normalizator.
// Tested by tests/engines/feature/feature_test.cpp.
#include "engines/feature/cafeature.h"

#include <limits>

#include "common/astrace.h"

DistanceNormalizator::DistanceNormalizator(float factor) noexcept : m_factor(factor) {
  AS_TRACE(3, "Constructed DistanceNormalizator with factor %f", static_cast<double>(factor));
}

DistanceNormalizator::DistanceNormalizator(const DistanceNormalizator& other) noexcept
    : m_factor(other.m_factor) {
  AS_TRACE(3, "Copied DistanceNormalizator with factor %f", static_cast<double>(m_factor));
}

DistanceNormalizator::~DistanceNormalizator() { AS_TRACE(3, "Destructed DistanceNormalizator"); }

void DistanceNormalizator::Normalize(std::uint32_t& distance) const noexcept {
  const float scaled = static_cast<float>(distance) * m_factor;
  // Truncation toward zero; a negative, NaN or overflowing product cannot be represented and
  // is held at the nearest end of the range instead of being undefined.
  if (!(scaled > 0.0f)) {
    distance = 0;
  } else if (scaled >= 4294967296.0f) {
    distance = std::numeric_limits<std::uint32_t>::max();
  } else {
    distance = static_cast<std::uint32_t>(scaled);
  }
}

CAFeature& CAFeature::operator=(const CAFeature& other) {
  AS_TRACE(3, "operator=");
  if (&other == this) return *this;
  DistanceNormalizator* copy =
      other.m_normalizator != nullptr ? new DistanceNormalizator(*other.m_normalizator) : nullptr;
  delete m_normalizator;
  m_normalizator = copy;
  return *this;
}

void CAFeature::SetDistanceNormalizator(DistanceNormalizator* normalizator) noexcept {
  if (normalizator == m_normalizator) return;
  delete m_normalizator;
  m_normalizator = normalizator;
}

const DistanceNormalizator* CAFeature::GetDistanceNormalizator() const noexcept {
  return m_normalizator;
}

CAFeature::~CAFeature() { delete m_normalizator; }
