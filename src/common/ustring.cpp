// sstring and usstring.
//
// Buffers are exact-size: a new content of n characters takes n + 1 units (sstring uses its
// 24-byte inline buffer when n + 1 < 24). Every replacement builds the new buffer first and
// releases the old one afterwards, so a failed allocation leaves the old content intact and
// text taken from the string itself (self-append, substrings) stays readable while copying.
// Operations are O(length); comparisons and hashes a single pass. Tested by
// tests/common/ustring_test.cpp.
#include "common/ustring.h"

#include <cstring>
#include <utility>

#include "common/astrace.h"
#include "common/convert.h"
#include "common/strutils.h"

namespace ascommon {

namespace {

constexpr std::size_t kNoSize = static_cast<std::size_t>(-1);

std::size_t WideLength(const char16_t* text) noexcept {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Length of text, scanning at most limit units.
std::size_t WideLengthBounded(const char16_t* text, std::size_t limit) noexcept {
  std::size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

int Sign(int value) noexcept { return (value > 0) - (value < 0); }

// Unit order over the shorter length, then the shorter text first; with bNoCase both sides
// are folded through WideToLower.
int CompareWide(const char16_t* left, std::size_t leftLength, const char16_t* right,
                std::size_t rightLength, bool bNoCase) noexcept {
  const std::size_t n = leftLength < rightLength ? leftLength : rightLength;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t a = left[i];
    char16_t b = right[i];
    if (bNoCase) {
      a = WideToLower(a);
      b = WideToLower(b);
    }
    if (a != b) return a < b ? -1 : 1;
  }
  if (leftLength == rightLength) return 0;
  return leftLength < rightLength ? -1 : 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// sstring

sstring::sstring() noexcept = default;

sstring::sstring(const char* text) { assign(text); }

sstring::sstring(const char* text, std::size_t count) { assign(text, count); }

sstring::sstring(const sstring& other) : CBlackBoxObject() { *this = other; }

sstring::sstring(sstring&& other) noexcept : CBlackBoxObject() { *this = std::move(other); }

sstring::~sstring() {
  if (on_heap()) as_free(m_buffer);
}

sstring& sstring::operator=(const sstring& other) {
  if (this == &other) return *this;
  if (other.is_null()) {
    clear();
    return *this;
  }
  char* buffer = acquire(other.m_capacity);
  if (buffer == nullptr) {
    m_status = -2;
    return *this;
  }
  std::memcpy(buffer, other.m_buffer, other.m_capacity);
  install(buffer, other.m_length, other.m_capacity);
  m_status = 0;
  return *this;
}

sstring& sstring::operator=(sstring&& other) noexcept {
  if (this == &other) return *this;
  clear();
  if (other.is_null()) {
    m_status = other.m_status;
    return *this;
  }
  if (other.on_heap()) {
    m_buffer = other.m_buffer;
  } else {
    std::memcpy(m_inline, other.m_inline, kInlineSize);
    m_buffer = m_inline;
  }
  m_length = other.m_length;
  m_capacity = other.m_capacity;
  m_status = other.m_status;
  // The source gives up its buffer without freeing it.
  other.m_buffer = nullptr;
  other.m_length = 0;
  other.m_capacity = 0;
  other.m_status = 0;
  return *this;
}

char* sstring::acquire(std::size_t bytes) noexcept {
  if (bytes < kInlineSize) return m_inline;
  return static_cast<char*>(as_alloc_nt(bytes));
}

void sstring::install(char* buffer, std::size_t length, std::size_t capacity) noexcept {
  if (on_heap() && m_buffer != buffer) as_free(m_buffer);
  m_buffer = buffer;
  m_length = length;
  m_capacity = capacity;
}

void sstring::clear() noexcept {
  if (on_heap()) as_free(m_buffer);
  m_buffer = nullptr;
  m_length = 0;
  m_capacity = 0;
  m_status = 0;
}

std::int32_t sstring::assign(const char* text) {
  if (text == nullptr) {
    clear();
    return 0;
  }
  return assign(text, std::strlen(text));
}

std::int32_t sstring::assign(const char* text, std::size_t count) {
  if (text == nullptr) {
    clear();
    return 0;
  }
  char* buffer = count == kNoSize ? nullptr : acquire(count + 1);
  if (buffer == nullptr) {
    m_status = -2;
    return m_status;
  }
  // memmove: text may lie inside the inline buffer that is being reused.
  std::memmove(buffer, text, count);
  buffer[count] = '\0';
  install(buffer, std::strlen(buffer), count + 1);
  m_status = 0;
  return 0;
}

std::int32_t sstring::assign(const sstring& other) {
  if (this == &other) return m_status;
  if (other.is_null()) {
    clear();
    return 0;
  }
  return assign(other.m_buffer, other.m_length);
}

std::int32_t sstring::append(const char* text) {
  if (text == nullptr) return append(text, 0);
  return append(text, std::strlen(text));
}

std::int32_t sstring::append(const char* text, std::size_t count) {
  if (is_null()) return assign(text, count);
  if (text == nullptr || count == 0) return 0;
  const std::size_t newLength = m_length + count;
  if (newLength < m_length || newLength == kNoSize) {
    m_status = -2;
    return m_status;
  }
  if (newLength + 1 >= kInlineSize) {
    char* block = static_cast<char*>(as_alloc_nt(newLength + 1));
    if (block == nullptr) {
      m_status = -2;
      return m_status;
    }
    std::memcpy(block, m_buffer, m_length);
    std::memcpy(block + m_length, text, count);
    block[newLength] = '\0';
    install(block, newLength, newLength + 1);
  } else {
    // The current buffer (inline, or a larger heap block) has room for the result.
    std::memmove(m_buffer + m_length, text, count);
    m_buffer[newLength] = '\0';
    m_length = newLength;
    m_capacity = newLength + 1;
  }
  m_status = 0;
  return 0;
}

std::int32_t sstring::append(const sstring& other) {
  if (other.is_null()) return is_null() ? assign(nullptr) : 0;
  return append(other.m_buffer, other.m_length);
}

std::int32_t sstring::fill(std::size_t count, char ch) {
  if (count == 0) return 0;
  const std::size_t bytes = ch != '\0' ? count + 1 : count;
  char* buffer = bytes == 0 ? nullptr : acquire(bytes);
  if (buffer == nullptr) {
    m_status = -2;
    return m_status;
  }
  if (ch != '\0') {
    std::memset(buffer, ch, count);
    buffer[count] = '\0';
    install(buffer, count, bytes);
  } else {
    std::memset(buffer, 0, count);
    install(buffer, 0, bytes);
  }
  m_status = 0;
  return 0;
}

void sstring::set_length(std::size_t n) noexcept {
  if (m_buffer == nullptr || n >= m_capacity) return;
  m_buffer[n] = '\0';
  m_length = n;
}

void sstring::update_length() noexcept {
  if (m_buffer == nullptr) return;
  std::size_t n = strnlen(m_buffer, m_capacity);
  if (n == m_capacity) {  // No terminator inside the buffer: cut the last byte.
    n = m_capacity - 1;
    m_buffer[n] = '\0';
  }
  m_length = n;
}

int sstring::compare(const char* text, bool bIgnoreCase) const noexcept {
  if (m_buffer == nullptr) return -3;
  if (text == nullptr) return -2;
  return Sign(bIgnoreCase ? CompareNoCase(m_buffer, text) : std::strcmp(m_buffer, text));
}

bool sstring::find(const char* text, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr || text == nullptr) return false;
  const char* hit = std::strstr(m_buffer, text);
  if (hit == nullptr) return false;
  pos = static_cast<std::size_t>(hit - m_buffer);
  return true;
}

bool sstring::find_nocase(const char* text, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr || text == nullptr) return false;
  const char* hit = FindNoCase(m_buffer, text);
  if (hit == nullptr) return false;
  pos = static_cast<std::size_t>(hit - m_buffer);
  return true;
}

bool sstring::find(char ch, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr) return false;
  const void* hit = std::memchr(m_buffer, ch, m_length);
  if (hit == nullptr) return false;
  pos = static_cast<std::size_t>(static_cast<const char*>(hit) - m_buffer);
  return true;
}

bool sstring::rfind(char ch, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr) return false;
  for (std::size_t i = m_length; i > 0; --i) {
    if (m_buffer[i - 1] == ch) {
      pos = i - 1;
      return true;
    }
  }
  return false;
}

bool sstring::operator==(const sstring& other) const noexcept {
  if (this == &other) return true;
  if (m_buffer == nullptr || other.m_buffer == nullptr) return false;
  return m_length == other.m_length && std::memcmp(m_buffer, other.m_buffer, m_length) == 0;
}

bool sstring::operator!=(const sstring& other) const noexcept {
  if (this == &other) return false;
  const bool leftNull = m_buffer == nullptr;
  const bool rightNull = other.m_buffer == nullptr;
  if (leftNull || rightNull) return leftNull != rightNull;
  return m_length != other.m_length || std::memcmp(m_buffer, other.m_buffer, m_length) != 0;
}

bool sstring::operator<(const sstring& other) const noexcept {
  if (this == &other) return false;
  const bool leftNull = m_buffer == nullptr;
  const bool rightNull = other.m_buffer == nullptr;
  if (leftNull && rightNull) return false;
  if (leftNull || rightNull) return true;
  const int order = CompareBytes(m_buffer, m_length, other.m_buffer, other.m_length);
  if (order != 0) return order < 0;
  return m_length < other.m_length;
}

std::uint32_t sstring::hash() const noexcept {
  if (m_buffer == nullptr || m_length == 0) return 0;
  std::uint32_t h = 5381;
  for (std::size_t i = 0; i < m_length; ++i) {
    // Bytes 0x80..0xFF take part as negative values (sign extension).
    const auto c = static_cast<std::uint32_t>(static_cast<std::int32_t>(
        static_cast<signed char>(m_buffer[i])));
    h = (h * 33u) ^ c;
  }
  return h;
}

usstring sstring::to_usstring() const {
  usstring result;
  if (m_buffer == nullptr) return result;
  std::size_t length = 0;
  char16_t* wide = AnsiToWideAlloc(m_buffer, length);
  if (wide == nullptr) return result;
  if (result.assign(wide, length) != 0) result.clear();
  as_free(wide);
  return result;
}

sstring operator+(const sstring& left, const sstring& right) {
  sstring result;
  if (left.is_null() && right.is_null()) return result;
  const std::size_t total = left.length() + right.length();
  if (total == 0) {
    result.assign("", 0);
    return result;
  }
  // One exact-size buffer; fill(total, ' ') leaves it terminated at total.
  if (result.fill(total, ' ') != 0) {
    result.clear();
    result.set_status(-2);
    return result;
  }
  if (left.length() != 0) std::memcpy(result.data(), left.c_str(), left.length());
  if (right.length() != 0) {
    std::memcpy(result.data() + left.length(), right.c_str(), right.length());
  }
  return result;
}

// ---------------------------------------------------------------------------------------
// usstring

usstring::usstring() noexcept = default;

usstring::usstring(const char16_t* text) { assign(text); }

usstring::usstring(const char16_t* text, std::size_t count) { assign(text, count); }

usstring::usstring(const usstring& other) : CBlackBoxObject() { *this = other; }

usstring::usstring(usstring&& other) noexcept : CBlackBoxObject() { *this = std::move(other); }

usstring::~usstring() { as_free(m_buffer); }

usstring& usstring::operator=(const usstring& other) {
  if (this == &other) return *this;
  if (other.is_null()) {
    clear();
    m_ignoreCase = other.m_ignoreCase;
    return *this;
  }
  char16_t* buffer = as_alloc_array_nt<char16_t>(other.m_capacity);
  if (buffer == nullptr) {
    m_status = -2;
    return *this;
  }
  std::memcpy(buffer, other.m_buffer, other.m_capacity * sizeof(char16_t));
  install(buffer, other.m_length, other.m_capacity);
  m_ignoreCase = other.m_ignoreCase;
  m_status = 0;
  return *this;
}

usstring& usstring::operator=(usstring&& other) noexcept {
  if (this == &other) return *this;
  as_free(m_buffer);
  m_buffer = std::exchange(other.m_buffer, nullptr);
  m_length = std::exchange(other.m_length, 0);
  m_capacity = std::exchange(other.m_capacity, 0);
  m_status = std::exchange(other.m_status, 0);
  m_ignoreCase = other.m_ignoreCase;
  return *this;
}

void usstring::install(char16_t* buffer, std::size_t length, std::size_t capacity) noexcept {
  if (m_buffer != buffer) as_free(m_buffer);
  m_buffer = buffer;
  m_length = length;
  m_capacity = capacity;
}

void usstring::clear() noexcept {
  as_free(m_buffer);
  m_buffer = nullptr;
  m_length = 0;
  m_capacity = 0;
  m_status = 0;
}

std::int32_t usstring::assign(const char16_t* text) { return assign(text, kNoSize); }

std::int32_t usstring::assign(const char16_t* text, std::size_t count) {
  if (text == nullptr) {
    clear();
    return 0;
  }
  const std::size_t n = WideLengthBounded(text, count);
  char16_t* buffer = n == kNoSize ? nullptr : as_alloc_array_nt<char16_t>(n + 1);
  if (buffer == nullptr) {
    m_status = -2;
    return m_status;
  }
  std::memcpy(buffer, text, n * sizeof(char16_t));
  buffer[n] = 0;
  install(buffer, n, n + 1);
  m_status = 0;
  return 0;
}

std::int32_t usstring::assign(const usstring& other) {
  if (this == &other) return m_status;
  return assign(other.m_buffer, other.m_length);
}

std::int32_t usstring::append(const char16_t* text) {
  if (text == nullptr) return append(text, 0);
  return append(text, WideLength(text));
}

std::int32_t usstring::append(const char16_t* text, std::size_t count) {
  if (text == nullptr) return is_null() ? assign(nullptr) : 0;
  // A count beyond the text's end is refused before anything changes.
  if (WideLengthBounded(text, count) < count) return -50;
  if (is_null()) return assign(text, count);
  const std::size_t newLength = m_length + count;
  char16_t* block = (newLength < m_length || newLength == kNoSize)
                        ? nullptr
                        : as_alloc_array_nt<char16_t>(newLength + 1);
  if (block == nullptr) {
    m_status = -2;
    return m_status;
  }
  std::memcpy(block, m_buffer, m_length * sizeof(char16_t));
  std::memcpy(block + m_length, text, count * sizeof(char16_t));
  block[newLength] = 0;
  install(block, newLength, newLength + 1);
  m_status = 0;
  return 0;
}

std::int32_t usstring::append(const usstring& other) {
  if (other.is_null()) return is_null() ? assign(nullptr) : 0;
  return append(other.m_buffer, other.m_length);
}

std::int32_t usstring::fill(std::size_t count, char16_t ch) {
  if (count == 0) return 0;
  const std::size_t units = ch != 0 ? count + 1 : count;
  char16_t* buffer = units == 0 ? nullptr : as_alloc_array_nt<char16_t>(units);
  if (buffer == nullptr) {
    m_status = -2;
    return m_status;
  }
  for (std::size_t i = 0; i < count; ++i) buffer[i] = ch;
  if (ch != 0) buffer[count] = 0;
  install(buffer, ch != 0 ? count : 0, units);
  m_status = 0;
  return 0;
}

void usstring::set_length(std::size_t n) noexcept {
  if (m_buffer == nullptr || n >= m_capacity) return;
  m_buffer[n] = 0;
  m_length = n;
}

void usstring::update_length() noexcept {
  if (m_buffer == nullptr) return;
  std::size_t n = WideLengthBounded(m_buffer, m_capacity);
  if (n == m_capacity) {
    n = m_capacity - 1;
    m_buffer[n] = 0;
  }
  m_length = n;
}

bool usstring::find(const char16_t* text, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr || text == nullptr) return false;
  const std::size_t n = WideLength(text);
  if (n > m_length) return false;
  for (std::size_t i = 0; i + n <= m_length; ++i) {
    if (std::memcmp(m_buffer + i, text, n * sizeof(char16_t)) == 0) {
      pos = i;
      return true;
    }
  }
  return false;
}

bool usstring::find_nocase(const char16_t* text, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr || text == nullptr) return false;
  const char16_t* hit = WideFindNoCase(m_buffer, text);
  if (hit == nullptr) return false;
  pos = static_cast<std::size_t>(hit - m_buffer);
  return true;
}

bool usstring::find(char16_t ch, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr) return false;
  for (std::size_t i = 0; i < m_length; ++i) {
    if (m_buffer[i] == ch) {
      pos = i;
      return true;
    }
  }
  return false;
}

bool usstring::rfind(char16_t ch, std::size_t& pos) const noexcept {
  if (m_buffer == nullptr) return false;
  for (std::size_t i = m_length; i > 0; --i) {
    if (m_buffer[i - 1] == ch) {
      pos = i - 1;
      return true;
    }
  }
  return false;
}

bool usstring::operator==(const usstring& other) const noexcept {
  if (this == &other) return true;
  if (m_buffer == nullptr || other.m_buffer == nullptr) return false;
  if (m_length != other.m_length) return false;
  return CompareWide(m_buffer, m_length, other.m_buffer, other.m_length, m_ignoreCase) == 0;
}

bool usstring::operator!=(const usstring& other) const noexcept {
  if (this == &other) return false;
  const bool leftNull = m_buffer == nullptr;
  const bool rightNull = other.m_buffer == nullptr;
  if (leftNull || rightNull) return leftNull != rightNull;
  if (m_length != other.m_length) return true;
  return CompareWide(m_buffer, m_length, other.m_buffer, other.m_length, m_ignoreCase) != 0;
}

bool usstring::operator<(const usstring& other) const noexcept {
  if (this == &other) return false;
  const bool leftNull = m_buffer == nullptr;
  const bool rightNull = other.m_buffer == nullptr;
  if (leftNull && rightNull) return false;
  if (leftNull || rightNull) return true;
  return CompareWide(m_buffer, m_length, other.m_buffer, other.m_length, m_ignoreCase) < 0;
}

bool usstring::operator>(const usstring& other) const noexcept {
  if (this == &other) return false;
  if (m_buffer == nullptr || other.m_buffer == nullptr) return false;
  return CompareWide(m_buffer, m_length, other.m_buffer, other.m_length, m_ignoreCase) > 0;
}

std::uint32_t usstring::hash() const noexcept {
  if (m_buffer == nullptr || m_length == 0) return 0;
  std::uint32_t h = 5381;
  for (std::size_t i = 0; i < m_length; ++i) {
    h = (h * 33u) ^ static_cast<std::uint32_t>(m_buffer[i]);  // Zero-extended unit.
  }
  return h;
}

sstring usstring::to_sstring() const {
  sstring result;
  if (m_buffer == nullptr) {
    AS_TRACE(0, "%s - trying to convert an uninitialized string",
             "ascommon::usstring::to_sstring");
    return result;
  }
  std::size_t length = 0;
  char* text = WideToAnsiAlloc(m_buffer, length);
  if (text == nullptr) AS_THROW(1, ASException, "conversion failed");
  const std::int32_t status = result.assign(text, length);
  as_free(text);
  if (status != 0) AS_THROW(1, ASException, "conversion failed");
  return result;
}

usstring operator+(const usstring& left, const usstring& right) {
  usstring result;
  result.set_ignore_case(left.ignore_case());
  if (left.is_null() && right.is_null()) return result;
  const std::size_t total = left.length() + right.length();
  if (total == 0) {
    result.assign(u"", 0);
    return result;
  }
  if (result.fill(total, u' ') != 0) return result;  // Null with status -2.
  if (left.length() != 0) {
    std::memcpy(result.data(), left.c_str(), left.length() * sizeof(char16_t));
  }
  if (right.length() != 0) {
    std::memcpy(result.data() + left.length(), right.c_str(),
                right.length() * sizeof(char16_t));
  }
  return result;
}

}  // namespace ascommon
