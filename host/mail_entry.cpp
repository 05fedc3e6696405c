// The mail library's one export: runs "mail" or "knn" for the executable (mail_library.h)
// and turns whatever the command raises into the call's error fields, so that no exception
// crosses into the executable.
#include <exception>

#include "common/asexport.h"
#include "errors.h"
#include "mail_library.h"

AS_EXPORT int ZzRunMailCommand(zzhost::MailCall* call) {
  using namespace zzhost;
  // A call laid out by another build is not touched beyond its first two fields.
  if (call == nullptr || call->version != kMailCallVersion || call->size != sizeof(MailCall)) {
    return kMailCallRefused;
  }
  try {
    MailContext context(*call);
    if (*call->command == "mail") return RunMailCommand(context);
    if (*call->command == "knn") return RunKnnCommand(context);
    throw HostError("the mail library has no command '" + *call->command + "'");
  } catch (const UsageError& e) {
    call->error = 2;
    call->errorText = e.what();
    call->hintCommand = e.HintCommand();
  } catch (const std::exception& e) {
    call->error = 1;
    call->errorText = e.what();
  } catch (...) {
    call->error = 1;
    call->errorText = "unknown exception";
  }
  return 1;
}
