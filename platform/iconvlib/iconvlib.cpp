// The charset conversion library (iconv.dll): three C entries over the C library's iconv.
// Each entry forwards its arguments unchanged, so errno is the one iconv left. Stateless;
// a descriptor may be used by one thread at a time, as iconv's own.
#include <iconv.h>

#include <cstddef>

extern "C" {

__attribute__((visibility("default"))) iconv_t libiconv_open(const char* to, const char* from) {
  return iconv_open(to, from);
}

__attribute__((visibility("default"))) std::size_t libiconv(iconv_t cd, char** in,
                                                            std::size_t* inLeft, char** out,
                                                            std::size_t* outLeft) {
  return iconv(cd, in, inLeft, out, outLeft);
}

__attribute__((visibility("default"))) int libiconv_close(iconv_t cd) { return iconv_close(cd); }

}  // extern "C"
