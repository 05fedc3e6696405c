// CHTTPFClassFactory: this module's class factory. Serves the four parental filters, in
// the order Bayes, BW list, BW list advanced, signatures. Built and destroyed by the
// module's entry points on the host's loading thread.
#pragma once

#include "class_factory.h"

namespace nsHttpModules {

class CHTTPFClassFactory : public CAClassFactory {
 public:
  CHTTPFClassFactory();
  ~CHTTPFClassFactory() override;
};

}  // namespace nsHttpModules
