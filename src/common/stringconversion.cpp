#include "common/stringconversion.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/asexception.h"
#include "common/astrace.h"
#include "common/convert.h"
#include "zzplat/dynlib.h"

namespace ascommon {

namespace {

constexpr std::int32_t kInvalidArgument = -1;
constexpr std::int32_t kFailed = -3;
constexpr std::int32_t kNotInitialised = -4;
constexpr std::int32_t kIllegal = -50;
constexpr std::int32_t kTooSmall = -51;
constexpr std::int32_t kNoConverter = -52;
constexpr std::int32_t kFallbackUsed = -53;

constexpr std::uint32_t kUtf8CodePage = 65001;
constexpr const char kFallbackCharset[] = "CP1250";
constexpr const char kWideCharset[] = "UTF-16LE";
void* const kBadDescriptor = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
constexpr std::size_t kConvFailed = static_cast<std::size_t>(-1);

std::string LowerAscii(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

using CodePageMap = std::unordered_map<std::string, std::uint32_t>;

// Filled on first use; C++ guarantees one initialisation even with concurrent first calls.
const CodePageMap& CodePages() {
  static const CodePageMap map = [] {
    AS_TRACE(0, "Filling up the code page map");
    static constexpr struct {
      const char* name;
      std::uint32_t page;
    } kPages[] = {
        {"big5", 950}, {"cp950", 950}, {"cp862", 862}, {"cp866", 866}, {"cp874", 874},
        {"cp936", 936}, {"cp949", 949}, {"ks_c_5601-1987", 949}, {"euc-cn", 51936},
        {"euc-jp", 51932}, {"euc-kr", 51949}, {"gb18030", 54936}, {"gb2312", 20936},
        {"hz-gb-2312", 52936}, {"iso-2022-jp", 50220}, {"iso-8859-1", 28591},
        {"iso-8859-15", 28605}, {"johab", 1361}, {"koi8-r", 20866}, {"koi8-u", 21866},
        {"MacArabic", 10004}, {"MacCentralEurope", 10029}, {"MacCroatian", 10082},
        {"MacCyrillic", 10007}, {"MacGreek", 10006}, {"MacHebrew", 10005},
        {"MacIceland", 10079}, {"macintosh", 10000}, {"MacRomania", 10010},
        {"MacThai", 10021}, {"MacTurkish", 10081}, {"MacUkraine", 10017},
        {"shift_jis", 932}, {"cp932", 932}, {"us-ascii", 20127}, {"ascii", 20127},
        {"utf-16", 1200}, {"utf-32", 12000}, {"utf-32be", 12001}, {"utf-7", 65000},
        {"utf-8", kUtf8CodePage},
    };
    CodePageMap pages;
    for (const auto& entry : kPages) pages.emplace(LowerAscii(entry.name), entry.page);
    // The two numbered families: cp1250..cp1258 and windows-1250..windows-1258.
    for (std::uint32_t page = 1250; page <= 1258; ++page) {
      pages.emplace("cp" + std::to_string(page), page);
      pages.emplace("windows-" + std::to_string(page), page);
    }
    for (std::uint32_t n = 2; n <= 9; ++n) {
      pages.emplace("iso-8859-" + std::to_string(n), 28590 + n);
    }
    return pages;
  }();
  return map;
}

std::int32_t MapErrno(int error) {
  if (error == E2BIG) return kTooSmall;
  if (error == EINVAL || error == EILSEQ) return kIllegal;
  return kFailed;
}

}  // namespace

CStringConversion::CStringConversion(const char16_t* pDirectory, bool bFallback) {
  Init(pDirectory, bFallback);
}

CStringConversion::~CStringConversion() { Release(); }

void CStringConversion::Release() noexcept {
  if (m_library != nullptr) zzplat::FreeLibrary(m_library);
  m_library = nullptr;
  m_open = nullptr;
  m_convert = nullptr;
  m_close = nullptr;
  m_initialised = false;
}

void CStringConversion::Init(const char16_t* pDirectory, bool bFallback) {
  Release();
  m_fallback = bFallback;
  std::u16string path;
  try {
    path = pDirectory != nullptr ? pDirectory : u"";
    path += u"\\iconv.dll";
  } catch (const std::bad_alloc&) {
    AS_THROW_CODE(0, ASException, -2, "Problems with path concat");
  }
  m_library = zzplat::LoadLibraryW(path.c_str());
  if (m_library == nullptr) {
    AS_THROW_CODE(0, ASException, -4, "Could not load library %S", path.c_str());
  }
  m_open = reinterpret_cast<OpenProc>(zzplat::GetProcAddress(m_library, "libiconv_open"));
  m_convert = reinterpret_cast<ConvProc>(zzplat::GetProcAddress(m_library, "libiconv"));
  m_close = reinterpret_cast<CloseProc>(zzplat::GetProcAddress(m_library, "libiconv_close"));
  if (m_open == nullptr || m_convert == nullptr || m_close == nullptr) {
    Release();
    AS_THROW_CODE(0, ASException, -5, "Could not load procedures from %S", path.c_str());
  }
  m_initialised = true;
}

std::int32_t CStringConversion::Convert(const char* pFrom, const char* pTo, const char* pIn,
                                        std::size_t& inLength, char* pOut,
                                        std::size_t& outLength) const {
  return Run(pFrom, pTo, pIn, inLength, pOut, outLength, m_fallback);
}

std::int32_t CStringConversion::Run(const char* pFrom, const char* pTo, const char* pIn,
                                    std::size_t& inLength, char* pOut, std::size_t& outLength,
                                    bool bFallback) const {
  if (!m_initialised) {
    AS_TRACE(3, "Conversion cannot work - init the library first!");
    return kNotInitialised;
  }
  if (pFrom == nullptr || pTo == nullptr || pIn == nullptr || pOut == nullptr) {
    return kInvalidArgument;
  }
  // One descriptor per attempt, both for the same pair.
  bool viaFallback = false;
  void* first = m_open(pTo, pFrom);
  void* second = m_open(pTo, pFrom);
  if (first == kBadDescriptor || second == kBadDescriptor) {
    AS_TRACE(3, "iconv_open error: %s", std::strerror(errno));
    if (first != kBadDescriptor) m_close(first);
    if (second != kBadDescriptor) m_close(second);
    if (!bFallback) return kNoConverter;
    first = m_open(pTo, kFallbackCharset);
    second = m_open(pTo, kFallbackCharset);
    if (first == kBadDescriptor || second == kBadDescriptor) {
      AS_TRACE(3, "second try iconv_open error: %s", std::strerror(errno));
      if (first != kBadDescriptor) m_close(first);
      if (second != kBadDescriptor) m_close(second);
      return kNoConverter;
    }
    viaFallback = true;
  }
  const std::size_t inStart = inLength;
  const std::size_t outStart = outLength;
  char* in = const_cast<char*>(pIn);  // iconv's signature; the input is only read
  char* out = pOut;
  std::int32_t result = 0;
  if (m_convert(first, &in, &inLength, &out, &outLength) == kConvFailed) {
    const int error = errno;
    result = MapErrno(error);
    AS_TRACE(2, "first conversion attempt from %s to %s failed (errno: %d)", pFrom, pTo, error);
    if (bFallback) {
      in = const_cast<char*>(pIn);
      out = pOut;
      inLength = inStart;
      outLength = outStart;
      if (m_convert(second, &in, &inLength, &out, &outLength) == kConvFailed) {
        const int again = errno;
        result = MapErrno(again);
        AS_TRACE(2, "second conversion attempt from %s to %s failed (errno: %d)", pFrom, pTo,
                 again);
        AS_TRACE(2, "EPIC CONVERSION FAIL");
      } else {
        result = kFallbackUsed;
      }
    }
  } else if (viaFallback) {
    result = kFallbackUsed;
  }
  m_close(first);
  m_close(second);
  return result;
}

std::int32_t CStringConversion::ConvertToUCS(const char* pCharset, const char* pIn,
                                             std::size_t& inLength, char16_t* pOut,
                                             std::size_t& outLength, bool bFallback) const {
  if (!m_initialised) {
    AS_TRACE(3, "Conversion cannot work - init the library first!");
    return kNotInitialised;
  }
  if (pIn == nullptr || pOut == nullptr) {
    AS_TRACE(0, "%s - invalid input", "ascommon::CStringConversion::ConvertToUCS");
    return kIllegal;
  }
  std::size_t outBytes = outLength * 2;
  const std::int32_t result = Run(pCharset, kWideCharset, pIn, inLength,
                                  reinterpret_cast<char*>(pOut), outBytes, bFallback);
  if (outBytes % 2 != 0) return kFailed;
  outLength = outBytes / 2;
  return result;
}

std::int32_t CStringConversion::WideToUTF8(const char16_t* pIn, std::size_t inLength,
                                           char* pOut, std::size_t& outLength) const {
  if (pIn == nullptr) return kInvalidArgument;
  if (pOut == nullptr) return ascommon::WideToUtf8(pIn, inLength, nullptr, 0, outLength);
  AS_TRACE(3, "CStringConversion - Trying to use WIN32 API...");
  // Code page 65001 is always valid here: the foundation's own encoder does the work.
  std::size_t produced = 0;
  const std::int32_t result = ascommon::WideToUtf8(pIn, inLength, pOut, outLength, produced);
  if (result == 0) {
    outLength = produced;
    return 0;
  }
  const bool endsInsidePair = inLength > 0 && pIn[inLength - 1] >= 0xD800 &&
                              pIn[inLength - 1] <= 0xDBFF;
  if (result == kTooSmall && !endsInsidePair) {
    AS_TRACE(3, "CStringConversion - not enough memory to output UTF-8 translation!");
    return kTooSmall;
  }
  return kFailed;
}

std::uint32_t CStringConversion::CodePageOf(const char* pCharset) {
  if (pCharset == nullptr) return 0;
  const CodePageMap& pages = CodePages();
  const auto found = pages.find(LowerAscii(pCharset));
  return found != pages.end() ? found->second : 0;
}

}  // namespace ascommon
