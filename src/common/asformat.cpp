// Bounded printf with %S.
//
// The format is walked once. Literal text is copied; each conversion directive is
// parsed (flags, width, precision, length), its one argument is fetched by type, and the
// directive is handed with that single value to snprintf, which writes straight into
// the rest of the output. %S / %ls (UTF-16) are encoded here, one code point at a time, so
// a cut never splits a sequence. Once anything is cut, the rest of the format is dropped.
// Time linear in the output (plus snprintf's work per directive); no heap memory.
// Tested by tests/common/asformat_test.cpp.
#include "common/asformat.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

namespace ascommon {

namespace {

// Width and precision beyond this are treated as this (the output is bounded anyway).
constexpr long kMaxField = 1L << 20;

class COutput {
 public:
  COutput(char* out, std::size_t size) : m_out(out), m_cap(size - 1) { m_out[0] = '\0'; }

  bool Full() const { return m_full; }
  std::size_t Length() const { return m_len; }
  std::size_t Room() const { return m_cap - m_len; }

  // Copies bytes, cutting anywhere.
  void Append(const char* text, std::size_t n) {
    if (m_full) return;
    if (n > Room()) {
      n = Room();
      m_full = true;
    }
    std::memcpy(m_out + m_len, text, n);
    m_len += n;
    m_out[m_len] = '\0';
  }

  void AppendRepeated(char c, std::size_t n) {
    if (m_full) return;
    if (n > Room()) {
      n = Room();
      m_full = true;
    }
    std::memset(m_out + m_len, c, n);
    m_len += n;
    m_out[m_len] = '\0';
  }

  // Copies bytes only when all of them fit; otherwise stops the output.
  void AppendWhole(const char* text, std::size_t n) {
    if (m_full) return;
    if (n > Room()) {
      m_full = true;
      return;
    }
    Append(text, n);
  }

  // Formats one directive with its single value into the remaining room.
  template <class T>
  void Emit(const char* directive, T value) {
    if (m_full) return;
    int n = std::snprintf(m_out + m_len, Room() + 1, directive, value);
    if (n < 0) {
      m_out[m_len] = '\0';
      return;
    }
    if (static_cast<std::size_t>(n) > Room()) {
      m_len = m_cap;
      m_full = true;
    } else {
      m_len += static_cast<std::size_t>(n);
    }
    m_out[m_len] = '\0';
  }

 private:
  char* m_out;
  std::size_t m_cap;  // bytes of text the buffer can hold (size - 1)
  std::size_t m_len = 0;
  bool m_full = false;
};

// Encodes the code point starting at text[0] (pairs surrogates; a lone one becomes
// U+FFFD); returns the UTF-16 units consumed and fills bytes / byteCount.
std::size_t EncodeUtf8(const char16_t* text, char* bytes, std::size_t& byteCount) {
  char32_t cp = text[0];
  std::size_t used = 1;
  if (cp >= 0xD800 && cp <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
    cp = 0x10000 + ((cp - 0xD800) << 10) + (text[1] - 0xDC00);
    used = 2;
  } else if (cp >= 0xD800 && cp <= 0xDFFF) {
    cp = 0xFFFD;
  }
  if (cp < 0x80) {
    bytes[0] = static_cast<char>(cp);
    byteCount = 1;
  } else if (cp < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
    byteCount = 2;
  } else if (cp < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
    byteCount = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
    byteCount = 4;
  }
  return used;
}

// UTF-8 bytes of text, stopping before the code point that would pass maxBytes.
std::size_t Utf8Length(const char16_t* text, std::size_t maxBytes) {
  std::size_t total = 0;
  char bytes[4];
  while (*text != 0) {
    std::size_t n = 0;
    std::size_t used = EncodeUtf8(text, bytes, n);
    if (total + n > maxBytes) break;
    total += n;
    text += used;
  }
  return total;
}

// %S: UTF-16 text as UTF-8; precision caps the bytes (whole code points only), width pads
// with blanks counted in bytes.
void EmitUtf16(COutput& out, const char16_t* text, bool bLeft, long width, long precision) {
  if (text == nullptr) text = u"(null)";
  const std::size_t maxBytes = precision < 0 ? static_cast<std::size_t>(-1)
                                             : static_cast<std::size_t>(precision);
  const std::size_t length = Utf8Length(text, maxBytes);
  const std::size_t pad = width > 0 && static_cast<std::size_t>(width) > length
                              ? static_cast<std::size_t>(width) - length
                              : 0;
  if (!bLeft) out.AppendRepeated(' ', pad);
  std::size_t written = 0;
  char bytes[4];
  while (*text != 0 && !out.Full()) {
    std::size_t n = 0;
    std::size_t used = EncodeUtf8(text, bytes, n);
    if (written + n > length) break;
    out.AppendWhole(bytes, n);
    written += n;
    text += used;
  }
  if (bLeft) out.AppendRepeated(' ', pad);
}

// Parses a decimal field, saturating at kMaxField.
long ParseNumber(const char*& p) {
  long value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value < kMaxField) value = value * 10 + (*p - '0');
    ++p;
  }
  return value < kMaxField ? value : kMaxField;
}

bool IsFlag(char c) {
  return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'';
}

}  // namespace

std::size_t FormatV(char* out, std::size_t size, const char* format, std::va_list args) {
  if (out == nullptr || size == 0) return 0;
  COutput output(out, size);
  if (format == nullptr) return 0;

  std::va_list ap;
  va_copy(ap, args);
  const char* p = format;
  while (*p != 0 && !output.Full()) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      std::size_t n = next != nullptr ? static_cast<std::size_t>(next - p) : std::strlen(p);
      output.Append(p, n);
      p += n;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      output.Append("%", 1);
      ++p;
      continue;
    }

    // flags
    char flags[8];
    std::size_t flagCount = 0;
    bool bLeft = false;
    while (IsFlag(*p)) {
      if (*p == '-') bLeft = true;
      if (flagCount < sizeof(flags) - 1) flags[flagCount++] = *p;
      ++p;
    }
    flags[flagCount] = '\0';

    // width
    long width = -1;
    if (*p == '*') {
      int w = va_arg(ap, int);
      ++p;
      if (w < 0) {
        bLeft = true;
        if (flagCount < sizeof(flags) - 1) flags[flagCount++] = '-';
        flags[flagCount] = '\0';
        width = w == INT_MIN ? kMaxField : -static_cast<long>(w);
      } else {
        width = w;
      }
      if (width > kMaxField) width = kMaxField;
    } else if (*p >= '0' && *p <= '9') {
      width = ParseNumber(p);
    }

    // precision
    long precision = -1;
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        int v = va_arg(ap, int);
        ++p;
        precision = v < 0 ? -1 : (v > kMaxField ? kMaxField : v);
      } else {
        precision = ParseNumber(p);
      }
    }

    // length modifier, rewritten to the C standard's spelling
    const char* length = "";
    switch (*p) {
      case 'h':
        length = p[1] == 'h' ? "hh" : "h";
        p += p[1] == 'h' ? 2 : 1;
        break;
      case 'l':
        length = p[1] == 'l' ? "ll" : "l";
        p += p[1] == 'l' ? 2 : 1;
        break;
      case 'q':
        length = "ll";
        ++p;
        break;
      case 'z':
        length = "z";
        ++p;
        break;
      case 'j':
        length = "j";
        ++p;
        break;
      case 't':
        length = "t";
        ++p;
        break;
      case 'L':
        length = "L";
        ++p;
        break;
      default:
        break;
    }

    const char conversion = *p;
    if (conversion == '\0') {
      // An unfinished directive at the end is copied as it stands.
      output.Append(start, std::strlen(start));
      break;
    }
    ++p;

    char directive[64];
    auto build = [&](const char* len, char conv) {
      int n = std::snprintf(directive, sizeof(directive), "%%%s", flags);
      if (width >= 0) n += std::snprintf(directive + n, sizeof(directive) - n, "%ld", width);
      if (precision >= 0) n += std::snprintf(directive + n, sizeof(directive) - n, ".%ld", precision);
      std::snprintf(directive + n, sizeof(directive) - n, "%s%c", len, conv);
    };
    const bool bLong = std::strcmp(length, "l") == 0;
    const bool bLongLong = std::strcmp(length, "ll") == 0;

    switch (conversion) {
      case 'd':
      case 'i':
        build(length, conversion);
        if (bLong) {
          output.Emit(directive, va_arg(ap, long));
        } else if (bLongLong) {
          output.Emit(directive, va_arg(ap, long long));
        } else if (length[0] == 'z') {
          output.Emit(directive, static_cast<ssize_t>(va_arg(ap, std::size_t)));
        } else if (length[0] == 'j') {
          output.Emit(directive, va_arg(ap, std::intmax_t));
        } else if (length[0] == 't') {
          output.Emit(directive, va_arg(ap, std::ptrdiff_t));
        } else {
          output.Emit(directive, va_arg(ap, int));  // hh and h arrive promoted to int
        }
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        build(length, conversion);
        if (bLong) {
          output.Emit(directive, va_arg(ap, unsigned long));
        } else if (bLongLong) {
          output.Emit(directive, va_arg(ap, unsigned long long));
        } else if (length[0] == 'z') {
          output.Emit(directive, va_arg(ap, std::size_t));
        } else if (length[0] == 'j') {
          output.Emit(directive, va_arg(ap, std::uintmax_t));
        } else if (length[0] == 't') {
          output.Emit(directive, va_arg(ap, std::ptrdiff_t));
        } else {
          output.Emit(directive, va_arg(ap, unsigned));
        }
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (length[0] == 'L') {
          build("L", conversion);
          output.Emit(directive, va_arg(ap, long double));
        } else {
          build("", conversion);
          output.Emit(directive, va_arg(ap, double));
        }
        break;
      case 'c':
      case 'C':
        if (bLong || conversion == 'C') {
          // One UTF-16 code unit, as UTF-8.
          char16_t unit[2] = {static_cast<char16_t>(va_arg(ap, int)), 0};
          EmitUtf16(output, unit, bLeft, width, -1);
        } else {
          build("", 'c');
          output.Emit(directive, va_arg(ap, int));
        }
        break;
      case 's':
        if (bLong) {
          EmitUtf16(output, va_arg(ap, const char16_t*), bLeft, width, precision);
        } else {
          const char* text = va_arg(ap, const char*);
          build("", 's');
          output.Emit(directive, text != nullptr ? text : "(null)");
        }
        break;
      case 'S':
        EmitUtf16(output, va_arg(ap, const char16_t*), bLeft, width, precision);
        break;
      case 'p':
        build("", 'p');
        output.Emit(directive, va_arg(ap, void*));
        break;
      case 'n':
        // Writing through an argument is never wanted in a log line: consume it only.
        (void)va_arg(ap, void*);
        break;
      default:
        // Unknown conversion: copied as it stands, no argument consumed.
        output.Append(start, static_cast<std::size_t>(p - start));
        break;
    }
  }
  va_end(ap);
  return output.Length();
}

std::size_t Format(char* out, std::size_t size, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::size_t n = FormatV(out, size, format, args);
  va_end(args);
  return n;
}

}  // namespace ascommon
