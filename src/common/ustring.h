// sstring and usstring: the engine's owning 8-bit and 16-bit (UTF-16) strings.
//
// sstring carries ASCII, UTF-8 or locale ("ANSI") text; a content that needs fewer than 24
// bytes (terminator included) lives in an inline buffer, anything longer in a heap block of
// exactly the needed size. usstring carries UTF-16 units (char16_t) in a heap block and an
// ignore-case flag that its comparisons honour when it is the left operand.
//
// Ownership: each string owns its buffer; every heap block comes from ascommon::as_alloc_nt
// and goes back through as_free. Pointers from c_str()/data() stay valid until the next
// modifying call or the string's destruction.
//
// Failure: operations never throw on allocation failure. They keep the old content, record
// -2 in status() and return it. The one exception is usstring::to_sstring, which throws
// ASException("conversion failed") when the locale conversion fails.
//
// Null strings: a default-constructed or cleared string is "null" (no buffer, length 0,
// capacity 0); it differs from an empty string, which has a buffer holding only the
// terminator. Comparison operators treat null strings specially (see each operator).
//
// Threads: a string is a plain value; concurrent readers are safe, any writer needs
// exclusive access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/blackboxobject.h"

namespace ascommon {

class usstring;

class sstring : public CBlackBoxObject {
 public:
  // Bytes in the inline buffer; contents needing fewer bytes (terminator included) stay inline.
  static constexpr std::size_t kInlineSize = 24;

  sstring() noexcept;
  // Copies a zero-terminated text; null gives a null string.
  sstring(const char* text);  // NOLINT(google-explicit-constructor): literals convert freely.
  // Copies count bytes of text, then sets the length by scanning for the first zero byte.
  sstring(const char* text, std::size_t count);
  // Copies text and length; the copy's capacity equals the source's capacity.
  sstring(const sstring& other);
  sstring(sstring&& other) noexcept;
  // On allocation failure the receiver keeps its content and status() becomes -2.
  sstring& operator=(const sstring& other);
  sstring& operator=(sstring&& other) noexcept;
  ~sstring() override;

  // Replace the content; a null text clears the string. Return the status (0 or -2).
  // assign(text, count) copies count bytes, then sets the length by scanning for a zero;
  // assign(other) takes other's text only (capacity length + 1, unlike a copy).
  std::int32_t assign(const char* text);
  std::int32_t assign(const char* text, std::size_t count);
  std::int32_t assign(const sstring& other);

  // Add text behind the current content; a null receiver takes the text as by assign.
  // append(text, count) adds exactly count bytes (they must be readable). Returns 0 or -2.
  std::int32_t append(const char* text);
  std::int32_t append(const char* text, std::size_t count);
  std::int32_t append(const sstring& other);

  // ch != 0: content of count copies of ch (count + 1 bytes). ch == 0: reserves exactly
  // count zero bytes with length 0, so a conversion can write into data(). count 0 does
  // nothing. Returns 0 or -2.
  std::int32_t fill(std::size_t count, char ch);

  // Back to the null state: frees a heap buffer, status 0.
  void clear() noexcept;

  const char* c_str() const noexcept { return m_buffer; }
  // Writable buffer of capacity() bytes (null for a null string); call set_length or
  // update_length after writing into it.
  char* data() noexcept { return m_buffer; }
  std::size_t length() const noexcept { return m_length; }
  std::size_t capacity() const noexcept { return m_capacity; }
  bool is_null() const noexcept { return m_buffer == nullptr; }
  bool empty() const noexcept { return m_buffer == nullptr || m_length == 0; }
  std::int32_t status() const noexcept { return m_status; }
  void set_status(std::int32_t status) noexcept { m_status = status; }
  // Terminates the buffer at n and makes n the length; ignored when n >= capacity().
  void set_length(std::size_t n) noexcept;
  // Sets the length by scanning the buffer for its first zero byte (within capacity()).
  void update_length() noexcept;

  // -3 for a null receiver, -2 for a null text. Otherwise -1, 0 or 1: bytes compared
  // unsigned, or (bIgnoreCase) with ASCII letters folded to lower case.
  int compare(const char* text, bool bIgnoreCase = false) const noexcept;

  // Searches; true and the zero-based byte position in pos when found. False when not
  // found or when the receiver or text is null. O(length * text length).
  bool find(const char* text, std::size_t& pos) const noexcept;
  bool find_nocase(const char* text, std::size_t& pos) const noexcept;
  bool find(char ch, std::size_t& pos) const noexcept;
  bool rfind(char ch, std::size_t& pos) const noexcept;

  // The same object is equal to itself; two null strings are never equal; otherwise equal
  // when lengths and bytes are equal.
  bool operator==(const sstring& other) const noexcept;
  // False for the same object and for two null strings, true when exactly one is null.
  bool operator!=(const sstring& other) const noexcept;
  // False for the same object or two null strings; true when either one is null;
  // otherwise unsigned byte order (a proper prefix sorts first).
  bool operator<(const sstring& other) const noexcept;

  // h = 5381; h = h * 33 ^ c for every byte c sign-extended to 32 bits. Null/empty: 0.
  std::uint32_t hash() const noexcept;

  // Converts through the current C locale's multibyte-to-wide conversion. Any failure
  // (null receiver, invalid sequence, memory) gives a null usstring; never throws.
  usstring to_usstring() const;

 private:
  bool on_heap() const noexcept { return m_buffer != nullptr && m_buffer != m_inline; }
  // Makes room for exactly `bytes` bytes: the inline buffer when bytes < kInlineSize,
  // else a new heap block. Returns null on allocation failure (content untouched).
  char* acquire(std::size_t bytes) noexcept;
  // Frees the current heap buffer (if any) and installs the new buffer.
  void install(char* buffer, std::size_t length, std::size_t capacity) noexcept;

  char* m_buffer = nullptr;
  char m_inline[kInlineSize] = {};
  std::size_t m_length = 0;
  std::size_t m_capacity = 0;
  std::int32_t m_status = 0;
};

// Concatenation: length is the sum of both; a null operand counts as empty; two null
// operands give a null string. On allocation failure the result is null with status -2.
sstring operator+(const sstring& left, const sstring& right);

class usstring : public CBlackBoxObject {
 public:
  usstring() noexcept;
  // Copies a zero-terminated UTF-16 text; null gives a null string.
  usstring(const char16_t* text);  // NOLINT(google-explicit-constructor)
  // Copies at most count units, stopping at a terminator.
  usstring(const char16_t* text, std::size_t count);
  // Copies text, length and ignore-case flag; capacity equals the source's capacity.
  usstring(const usstring& other);
  usstring(usstring&& other) noexcept;
  // On allocation failure the receiver keeps its content and status() becomes -2.
  usstring& operator=(const usstring& other);
  usstring& operator=(usstring&& other) noexcept;
  ~usstring() override;

  // Replace the content (the ignore-case flag stays); null clears. Returns 0 or -2.
  // assign(text, count) copies at most count units, stopping at a terminator.
  std::int32_t assign(const char16_t* text);
  std::int32_t assign(const char16_t* text, std::size_t count);
  std::int32_t assign(const usstring& other);

  // Add text behind the content in a new block of exactly the new length + 1 units; a
  // null receiver takes the text as by assign. append(text, count) with count above the
  // text's length returns -50 and changes nothing. Returns 0, -2 or -50.
  std::int32_t append(const char16_t* text);
  std::int32_t append(const char16_t* text, std::size_t count);
  std::int32_t append(const usstring& other);

  // As sstring::fill, in 16-bit units.
  std::int32_t fill(std::size_t count, char16_t ch);

  void clear() noexcept;

  const char16_t* c_str() const noexcept { return m_buffer; }
  char16_t* data() noexcept { return m_buffer; }
  std::size_t length() const noexcept { return m_length; }
  std::size_t capacity() const noexcept { return m_capacity; }
  bool is_null() const noexcept { return m_buffer == nullptr; }
  bool empty() const noexcept { return m_buffer == nullptr || m_length == 0; }
  std::int32_t status() const noexcept { return m_status; }
  void set_status(std::int32_t status) noexcept { m_status = status; }
  void set_length(std::size_t n) noexcept;
  void update_length() noexcept;

  void set_ignore_case(bool bIgnoreCase) noexcept { m_ignoreCase = bIgnoreCase; }
  bool ignore_case() const noexcept { return m_ignoreCase; }

  // As sstring's searches, positions in units. find_nocase folds each unit by Unicode
  // (WideToLower, strutils.h).
  bool find(const char16_t* text, std::size_t& pos) const noexcept;
  bool find_nocase(const char16_t* text, std::size_t& pos) const noexcept;
  bool find(char16_t ch, std::size_t& pos) const noexcept;
  bool rfind(char16_t ch, std::size_t& pos) const noexcept;

  // Null rules as for sstring (== false when either is null, < true when exactly one is
  // null, > false when either is null). When the LEFT operand's ignore-case flag is set,
  // units are compared through WideToLower (Unicode simple lower case of each unit;
  // surrogate pairs compare as they are); otherwise as unsigned 16-bit values.
  bool operator==(const usstring& other) const noexcept;
  bool operator!=(const usstring& other) const noexcept;
  bool operator<(const usstring& other) const noexcept;
  bool operator>(const usstring& other) const noexcept;

  // h = 5381; h = h * 33 ^ u for every unit u zero-extended. Null/empty: 0.
  std::uint32_t hash() const noexcept;

  // Converts through the current C locale's wide-to-multibyte conversion. A null receiver
  // traces "... trying to convert an uninitialized string" and returns a null sstring; a
  // failed conversion (unrepresentable or unpaired unit, memory) traces and throws
  // ASException "ASException - MESSAGE: conversion failed".
  sstring to_sstring() const;

 private:
  // Frees the current buffer and installs the new one.
  void install(char16_t* buffer, std::size_t length, std::size_t capacity) noexcept;

  char16_t* m_buffer = nullptr;  // Owned.
  std::size_t m_length = 0;
  std::size_t m_capacity = 0;
  bool m_ignoreCase = false;
  std::int32_t m_status = 0;
};

// Concatenation; null operands count as empty, two null operands give a null string. The
// result takes the left operand's ignore-case flag.
usstring operator+(const usstring& left, const usstring& right);

}  // namespace ascommon
