#include "httpfclassfactory.h"

#include "bayesfilter/bayesfilter.h"
#include "modnames.h"
#include "parentalbwlistadvancedfilter/parentalbwlistadvancedfilter.h"
#include "parentalbwlistfilter/parentalbwlistfilter.h"
#include "parentalsignfilter/parentalsignfilter.h"

namespace nsHttpModules {

CHTTPFClassFactory::CHTTPFClassFactory() {
  // Tracing starts before anything else, so the construction lines below reach the log.
  ascommon::StartTracing();
  // On a throw the base destructor releases the allocators already appended.
  AddAllocator(new TAllocator<CBayesFilter>(g_strHttpParentalBayesianFilter));
  AddAllocator(new TAllocator<CParentalBWListFilter>(g_strHttpParentalBWListFilter));
  AddAllocator(
      new TAllocator<CParentalBWListAdvancedFilter>(g_strHttpParentalBWListAdvancedFilter));
  AddAllocator(new TAllocator<CParentalSignFilter>(g_strHttpParentalSignaturesFilter));
}

CHTTPFClassFactory::~CHTTPFClassFactory() {
  AS_TRACE(0, "Releasing CHTTPFClassFactory");
}

}  // namespace nsHttpModules
