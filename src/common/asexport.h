// Visibility helpers. The build hides every symbol by default; AS_EXPORT marks the module's
// entry points. AS_VISIBLE keeps run-time type information of classes whose objects cross a
// shared-library boundary (exceptions, interfaces) comparable on both sides; the module's
// version script still keeps those symbols out of its dynamic table.
#pragma once

#if defined(_WIN32)
#define AS_EXPORT extern "C" __declspec(dllexport)
#define AS_VISIBLE
#else
#define AS_EXPORT extern "C" __attribute__((visibility("default")))
#define AS_VISIBLE __attribute__((visibility("default")))
#endif
