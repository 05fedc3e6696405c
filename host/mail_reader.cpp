#include "mail_reader.h"

#include <cerrno>
#include <cstring>

#include "errors.h"

namespace zzhost {

namespace {

bool IsFromLine(const std::string& line) { return line.compare(0, 5, "From ") == 0; }

// ">From ", ">>From " ...: a body line that an mbox writer quoted.
bool IsQuotedFrom(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == '>') ++i;
  return i > 0 && line.compare(i, 5, "From ") == 0;
}

bool IsEmptyLine(const std::string& line) { return line == "\n" || line == "\r\n"; }

}  // namespace

CMailReader::CMailReader(const std::string& path) : m_path(path) {
  if (path == "-") {
    m_in = stdin;
    return;
  }
  m_in = std::fopen(path.c_str(), "rb");
  if (m_in == nullptr) throw HostError("cannot read " + path + ": " + std::strerror(errno));
  m_owned = true;
}

CMailReader::~CMailReader() {
  if (m_owned) std::fclose(m_in);
}

// One line with its line feed (the last line of the input may have none); false at the end.
bool CMailReader::ReadLine(std::string& line) {
  line.clear();
  if (m_hasPending) {
    line.swap(m_pending);
    m_hasPending = false;
    return true;
  }
  for (;;) {
    if (m_pos == m_len) {
      m_pos = 0;
      m_len = std::fread(m_buffer, 1, sizeof m_buffer, m_in);
      if (m_len == 0) break;
    }
    const char* from = m_buffer + m_pos;
    const void* feed = std::memchr(from, '\n', m_len - m_pos);
    const std::size_t take =
        feed != nullptr ? static_cast<const char*>(feed) - from + 1 : m_len - m_pos;
    line.append(from, take);
    m_pos += take;
    if (feed != nullptr) return true;
  }
  if (std::ferror(m_in)) {
    m_done = true;
    throw HostError("cannot read " + m_path + ": " + std::strerror(errno));
  }
  return !line.empty();
}

bool CMailReader::Next(MailMessage& out) {
  out.bytes.clear();
  if (m_done) return false;
  std::string line;
  if (!m_started) {
    m_started = true;
    if (!ReadLine(line)) {
      m_done = true;
      return false;
    }
    m_mbox = IsFromLine(line);
    if (!m_mbox) {
      m_pending.swap(line);
      m_hasPending = true;
    }
  } else if (m_mbox) {
    ReadLine(line);  // the "From " line read ahead by the previous message
  }
  ++m_count;
  out.source = m_mbox ? m_path + "#" + std::to_string(m_count) : m_path;
  bool tooLarge = false;
  bool afterEmpty = false;
  while (ReadLine(line)) {
    if (m_mbox && afterEmpty && IsFromLine(line)) {
      m_pending.swap(line);
      m_hasPending = true;
      // The empty line before a "From " line separates the messages.
      if (!out.bytes.empty()) {
        out.bytes.pop_back();
        if (!out.bytes.empty() && out.bytes.back() == '\r') out.bytes.pop_back();
      }
      break;
    }
    afterEmpty = IsEmptyLine(line);
    if (tooLarge) continue;
    if (m_mbox && IsQuotedFrom(line)) line.erase(0, 1);
    if (out.bytes.size() + line.size() > kMaxMessageBytes) {
      tooLarge = true;
      out.bytes.clear();
      out.bytes.shrink_to_fit();
      continue;
    }
    out.bytes += line;
  }
  if (!m_hasPending) m_done = true;
  if (tooLarge) {
    throw HostError(out.source + ": message larger than " +
                    std::to_string(kMaxMessageBytes >> 20) + " MiB, skipped");
  }
  return true;
}

}  // namespace zzhost
