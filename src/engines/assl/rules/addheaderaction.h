// AddHeaderAction: `add_header(NAME_OR_TEXT, "value")` on a mail context: sets the value of
// the plain header of that name, or creates a CHeaderOther with it and inserts it in the
// context's headers map under the upper-case name; then marks the item changed
// (SetDirty). The header name may be given as a text or as a bare name; both are the
// header's name. Name and value are 7-bit ASCII (the factory refuses others).
// A header the action creates belongs to whoever owns the headers map (the mail context
// frees the headers of its map). The action owns its texts; it is immutable after
// construction and safe for concurrent executions on separate contexts.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/aaction.h"

namespace nsEmlComponents {
class CModifiableHeader;
}

namespace assl {

class AddHeaderAction : public AAction {
 public:
  AddHeaderAction() noexcept : AAction(kActAddHeader) {}
  // nameKind: kKeyHeaderText or kKeyHeaderNameName. 0, or -2 when a copy cannot be made.
  std::int32_t Set(std::uint32_t nameKind, const char* name, const char* value);
  // ASException "invalid context handle", "invalid header name type", "invalid handle to
  // headers map", "invalid header type" (the named header is not a plain one), "could not
  // allocate memory for header", "invalid header received", "problems adding header in
  // headers map"; the context's "invalid reference to dirty flag".
  void Execute(CEnginesHandle* engines, ContextInterface* context) const override;

 protected:
  explicit AddHeaderAction(std::int32_t specific) noexcept : AAction(specific) {}
  // Changes an existing header's value: replaces it here; 0 or -2.
  virtual std::int32_t Change(nsEmlComponents::CModifiableHeader& header) const;
  const ascommon::usstring& WideValue() const noexcept { return m_wideValue; }

 private:
  std::uint32_t m_nameKind = kKeyHeaderText;
  ascommon::sstring m_name;
  ascommon::sstring m_key;  // the name in upper case: the headers map's key
  ascommon::sstring m_value;
  ascommon::usstring m_wideValue;
};

}  // namespace assl
