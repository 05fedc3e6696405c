// The exception family of the engine: AException and its concrete classes.
//
// Every concrete exception carries a code and a message of at most 512 characters that
// begins with its class name ("ASBadPtrException - MESSAGE: ..."). Throw sites use the
// AS_THROW macros of astrace.h, which write the exception's trace line first. Exceptions
// are values; they own nothing outside themselves and may cross the module boundary.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <exception>

#include "common/asexport.h"

class AS_VISIBLE AException : public std::exception {
 public:
  ~AException() override = default;
  const char* what() const noexcept override { return "Vevozovi Exception"; }
  virtual std::int32_t GetCode() const noexcept { return -1; }
  virtual bool IsFlagged() const noexcept { return false; }
};

class AS_VISIBLE ASException : public AException {
 public:
  static constexpr std::size_t kMaxMessage = 512;

  ASException() noexcept { m_message[0] = '\0'; }
  // Formats the message (printf rules plus %S, cut at 512 characters).
  ASException(std::int32_t code, const char* format, ...) noexcept;
  ~ASException() override = default;

  const char* what() const noexcept override;
  std::int32_t GetCode() const noexcept override { return m_code; }
  bool IsFlagged() const noexcept override { return m_flag; }
  void SetFlag(bool bFlag) noexcept { m_flag = bFlag; }
  void SetCode(std::int32_t code) noexcept { m_code = code; }

 protected:
  // Used by the subclasses' constructors, which share the formatting of ASException.
  void FormatMessageV(const char* format, std::va_list args) noexcept;

 private:
  bool m_flag = false;
  std::int32_t m_code = 0;
  char m_message[kMaxMessage + 1];
};

// Declares an exception class that only differs from ASException by its name.
// (Constructors with an ellipsis cannot be inherited, so each class spells its own.)
#define AS_DECLARE_EXCEPTION(Name)                                 \
  class AS_VISIBLE Name : public ASException {                     \
   public:                                                         \
    Name() noexcept = default;                                     \
    Name(std::int32_t code, const char* format, ...) noexcept {    \
      std::va_list args;                                           \
      va_start(args, format);                                      \
      SetCode(code);                                               \
      FormatMessageV(format, args);                                \
      va_end(args);                                                \
    }                                                              \
    ~Name() override = default;                                    \
  }

AS_DECLARE_EXCEPTION(ASMemException);
AS_DECLARE_EXCEPTION(ASBadPtrException);
AS_DECLARE_EXCEPTION(ASBadCastException);
AS_DECLARE_EXCEPTION(ASInternalException);
AS_DECLARE_EXCEPTION(ASFileException);
AS_DECLARE_EXCEPTION(ASAbnormalFeatureSet);
AS_DECLARE_EXCEPTION(ASBadFeatureNumber);
AS_DECLARE_EXCEPTION(ASBadFeatureType);
AS_DECLARE_EXCEPTION(ASEmptyFeature);
AS_DECLARE_EXCEPTION(BadAsymetricDistanceMatrix);
AS_DECLARE_EXCEPTION(BadCoordonates);
AS_DECLARE_EXCEPTION(BadCluster);
AS_DECLARE_EXCEPTION(KnnInconsistency);
AS_DECLARE_EXCEPTION(BadSetting);
AS_DECLARE_EXCEPTION(IterationTimeExceeded);

// Container index out of range: empty message, code -301, thrown without a trace line.
class AS_VISIBLE InvalidIndexException : public ASException {
 public:
  InvalidIndexException() noexcept { SetCode(-301); }
  ~InvalidIndexException() override = default;
};

// First or last element of an empty list: empty message, code -400, no trace line.
class AS_VISIBLE EmptyListException : public ASException {
 public:
  EmptyListException() noexcept { SetCode(-400); }
  ~EmptyListException() override = default;
};
