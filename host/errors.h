// The two kinds of error the stand-alone host reports, each as one line on stderr.
//
// UsageError: the command line is wrong (exit status 2). HostError: a well-formed request
// failed (missing module, bad settings file, an exception from the module; exit status 1).
// Both carry plain text owned by the exception, so they stay valid after the module that
// caused them is unloaded. Values; no shared state.
#pragma once

#include <stdexcept>
#include <string>

namespace zzhost {

class UsageError : public std::runtime_error {
 public:
  // hintCommand names the command whose help the message points to ("" for the global help).
  explicit UsageError(const std::string& message, std::string hintCommand = std::string())
      : std::runtime_error(message), m_hintCommand(std::move(hintCommand)) {}
  const std::string& HintCommand() const { return m_hintCommand; }

 private:
  std::string m_hintCommand;
};

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zzhost
