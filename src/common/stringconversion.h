// Conversion of text between named character sets through the external conversion library
// ("iconv.dll", loaded from a folder given at construction).
//
// A converter owns its library handle. Init is not thread-safe; once initialised, the
// conversions open their own descriptors per call, so one converter may convert from several
// threads at once. The code-page map is process-wide, filled once and read-only after that.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

class CStringConversion {
 public:
  // Not initialised: every conversion returns -4 until Init succeeds.
  CStringConversion() noexcept = default;
  // Init(pDirectory, bFallback); throws as Init does.
  CStringConversion(const char16_t* pDirectory, bool bFallback);
  ~CStringConversion();
  CStringConversion(const CStringConversion&) = delete;
  CStringConversion& operator=(const CStringConversion&) = delete;

  // Loads pDirectory + "\iconv.dll" and binds its three entries, releasing a library loaded
  // before. Throws ASException: -2 when the path cannot be built, -4 when the library cannot
  // be loaded, -5 when an entry is missing.
  void Init(const char16_t* pDirectory, bool bFallback);
  bool IsInitialised() const noexcept { return m_initialised; }

  // Converts inLength bytes of pIn from pFrom into at most outLength bytes at pOut. On
  // success inLength and outLength are reduced by what was consumed and produced. Returns 0,
  // -53 when the text was converted only through the "CP1250" fallback or a second attempt,
  // -51 output too small, -50 invalid or incomplete input, -52 unknown charset pair,
  // -1 null argument, -3 other failure, -4 not initialised.
  std::int32_t Convert(const char* pFrom, const char* pTo, const char* pIn,
                       std::size_t& inLength, char* pOut, std::size_t& outLength) const;

  // pCharset -> internal wide charset (UTF-16LE); outLength counts characters.
  std::int32_t ConvertToUCS(const char* pCharset, const char* pIn, std::size_t& inLength,
                            char16_t* pOut, std::size_t& outLength, bool bFallback) const;

  // Wide -> UTF-8. A null pOut only computes the length bound into outLength; otherwise
  // outLength is the capacity on entry and the bytes written on return. -51 when the
  // output is too small, -3 for other failures.
  std::int32_t WideToUTF8(const char16_t* pIn, std::size_t inLength, char* pOut,
                          std::size_t& outLength) const;

  // The Windows code page of a charset name (ASCII case-insensitive), or 0 when unknown.
  static std::uint32_t CodePageOf(const char* pCharset);

 private:
  using OpenProc = void* (*)(const char*, const char*);
  using ConvProc = std::size_t (*)(void*, char**, std::size_t*, char**, std::size_t*);
  using CloseProc = int (*)(void*);

  void Release() noexcept;
  std::int32_t Run(const char* pFrom, const char* pTo, const char* pIn, std::size_t& inLength,
                   char* pOut, std::size_t& outLength, bool bFallback) const;

  void* m_library = nullptr;
  OpenProc m_open = nullptr;
  ConvProc m_convert = nullptr;
  CloseProc m_close = nullptr;
  bool m_initialised = false;
  bool m_fallback = false;
};

}  // namespace ascommon
