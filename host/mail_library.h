// The mail library: "mail" and "knn" live in a library of their own (libzzmail.so, zzmail.dll
// on the product's home platform) beside the executable, because they parse messages with
// GMime, which with GLib and its companions costs every process that maps them a dozen
// libraries and a few megabytes before main runs. The executable loads the library only when
// one of these commands runs (RunMailLibraryCommand), through the platform loader, and keeps
// it loaded until the process ends (GLib's type registrations cannot be unloaded).
//
// MailCall is what crosses the boundary, one call per command: the command and its
// arguments, the settings the executable built, the output stream, and on failure the error
// for the executable to report (no exception leaves the library). Both sides come from the
// same build; kMailCallVersion tells a library of another build apart. MailContext is the
// view of a MailCall that the commands run on. Single-threaded, as the commands are.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "settings.h"

namespace zzhost {

class CommandContext;

// Bumped whenever MailCall or the library's commands change shape.
inline constexpr std::uint32_t kMailCallVersion = 1;
// The library in the product's form (zzplat::LocalLibraryName maps it) and its one export.
inline constexpr char16_t kMailLibraryName[] = u"zzmail.dll";
inline constexpr char kMailEntryName[] = "ZzRunMailCommand";

struct MailCall {
  std::uint32_t version = kMailCallVersion;
  std::uint32_t size = sizeof(MailCall);
  const std::string* command = nullptr;            // "mail" or "knn". Not owned.
  const std::vector<std::string>* args = nullptr;  // after the command. Not owned.
  CHostSettings* settings = nullptr;               // Not owned.
  std::FILE* out = nullptr;                        // Not owned.
  // Set by the library when the command failed: 1 as HostError, 2 as UsageError (with the
  // command whose help the message points to).
  int error = 0;
  std::string errorText;
  std::string hintCommand;
};

// The library's export: runs call->command and returns its exit status; on failure fills
// the error fields instead (the return value is then meaningless). kMailCallRefused, with
// nothing filled, when the call's version or size is not the library's.
using MailEntry = int (*)(MailCall* call);
inline constexpr int kMailCallRefused = -1;

// What "mail" and "knn" use of the command line, as CommandContext offers it.
class MailContext {
 public:
  explicit MailContext(const MailCall& call) : m_call(call) {}
  const std::vector<std::string>& Args() const { return *m_call.args; }
  CHostSettings& Settings() const { return *m_call.settings; }
  std::FILE* Out() const { return m_call.out; }

 private:
  const MailCall& m_call;
};

// Executable side (mail_library.cpp): loads the library beside the executable and runs the
// context's command in it. HostError when the library cannot be loaded or is not of this
// build; the command's own errors are rethrown as they were raised.
int RunMailLibraryCommand(CommandContext& context);

// Library side (cmd_mail.cpp, cmd_knn.cpp).
int RunMailCommand(MailContext& context);
int RunKnnCommand(MailContext& context);

}  // namespace zzhost
