// Export marks of the shared library Pellux_noDB.
#pragma once

#if defined(_WIN32)
#if defined(PELLUX_BUILDING)
#define PELLUX_API __declspec(dllexport)
#else
#define PELLUX_API __declspec(dllimport)
#endif
#else
#define PELLUX_API __attribute__((visibility("default")))
#endif
