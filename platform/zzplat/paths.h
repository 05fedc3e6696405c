// Wide paths of the product's form ("C:\data\prlblk.cas", "data\list.dat") mapped to local
// UTF-8 paths: "\" becomes "/", the text is encoded as UTF-8 (unpaired surrogates become
// U+FFFD). Pure functions, thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace zzplat {

std::string LocalPath(const char16_t* path);

// LocalPath without allocation, for the file calls: the mapped path in a fixed buffer.
// ok() is false for a null path or one whose UTF-8 form does not fit (the calls then fail
// with ENAMETOOLONG). Never throws, so file calls stay usable when memory runs out.
class LocalPathBuffer {
 public:
  explicit LocalPathBuffer(const char16_t* path) noexcept;
  bool ok() const noexcept { return m_ok; }
  const char* c_str() const noexcept { return m_text; }

 private:
  static constexpr std::size_t kCapacity = 4096;
  char m_text[kCapacity];
  bool m_ok = false;
};
std::string Utf16ToUtf8Lenient(const char16_t* text);
// Length of the well-formed UTF-8 sequence starting at text[i] (1 for ASCII), or 0 when the
// bytes there are not one: bad lead or continuation bytes, overlong forms, surrogates,
// values above U+10FFFF, or a sequence cut by the end of the text. For an ill-formed start,
// maximalPart (when given) receives the length of its longest well-formed beginning, at
// least 1: the bytes a decoder that follows browsers replaces with one U+FFFD.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i,
                               std::size_t* maximalPart = nullptr) noexcept;
// Appends the code point of the well-formed sequence of length bytes at text[i] (as
// Utf8SequenceLength found it) to out as UTF-16.
void AppendUtf8Sequence(std::string_view text, std::size_t i, std::size_t length,
                        std::u16string& out);

std::u16string Utf8ToUtf16Lenient(const std::string& text);
// As Utf8ToUtf16Lenient, appending to out (a reused buffer spares an allocation per call).
void AppendUtf8AsUtf16Lenient(std::string_view text, std::u16string& out);

}  // namespace zzplat
