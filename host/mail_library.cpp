// Executable side of the mail library: finds it beside the executable (never on the loader's
// search path, so a copied bin folder uses its own), loads it once per process and hands it
// the command.
#include "mail_library.h"

#include "commands.h"
#include "errors.h"
#include "exe_path.h"
#include "zzplat/dynlib.h"

namespace zzhost {

namespace {

MailEntry LoadMailEntry() {
  static MailEntry entry = nullptr;  // the library stays loaded with it
  if (entry != nullptr) return entry;
  const std::string path = ExecutableDir() + "/" + zzplat::LocalLibraryName(kMailLibraryName);
  zzplat::LibraryHandle library = zzplat::LoadLibraryLocal(path.c_str());
  if (library == nullptr) {
    throw HostError("cannot load the mail library '" + path + "': " + zzplat::LastLoaderError());
  }
  void* address = zzplat::GetProcAddress(library, kMailEntryName);
  if (address == nullptr) {
    const std::string error = zzplat::LastLoaderError();
    zzplat::FreeLibrary(library);
    throw HostError("mail library '" + path + "' has no export '" + kMailEntryName + "': " +
                    error);
  }
  entry = reinterpret_cast<MailEntry>(address);
  return entry;
}

}  // namespace

int RunMailLibraryCommand(CommandContext& context) {
  const MailEntry entry = LoadMailEntry();
  MailCall call;
  call.command = &context.CommandName();
  call.args = &context.Args();
  call.settings = &context.Settings();
  call.out = context.Out();
  const int status = entry(&call);
  if (status == kMailCallRefused) {
    throw HostError("the mail library beside the executable is not of this build");
  }
  if (call.error == 2) throw UsageError(call.errorText, call.hintCommand);
  if (call.error != 0) throw HostError(call.errorText);
  return status;
}

}  // namespace zzhost
