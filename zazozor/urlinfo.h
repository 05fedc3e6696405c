// UrlInfoOf: the URL parse record an item carries (ItemField::kUrlInfo), as the list
// filters read it on every page.
//
// Why not a plain dynamic_cast: the host and the module each hold their own copy of the
// record type's run-time type information, so every dynamic_cast between them ends in a
// comparison of type names (strcmp), about a percent of a list filter's run. The host's
// type information of CParsedURL is remembered once an object of exactly that type has
// converted; such objects then convert after one pointer comparison, all others (types
// derived from it included) go through dynamic_cast.
// Threads: safe from any number of threads (the remembered type is an atomic pointer).
#pragma once

#include "common/blackboxobject.h"
#include "common/urlutils.h"

namespace nsHttpModules {

// The record, or null when object is null or not a URL parse record.
const ascommon::CParsedURL* UrlInfoOf(const ascommon::CBlackBoxObject* object) noexcept;

}  // namespace nsHttpModules
