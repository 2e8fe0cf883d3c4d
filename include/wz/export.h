// WZ_API marks what the shared library exports; everything else in it stays hidden.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define WZ_API __attribute__((visibility("default")))
#else
#define WZ_API
#endif
