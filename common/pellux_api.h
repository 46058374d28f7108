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

// Marks what the library shares between its own files but keeps to itself
// (a DLL exports only what is marked for export anyway).
#if defined(_WIN32)
#define PELLUX_LOCAL
#else
#define PELLUX_LOCAL __attribute__((visibility("hidden")))
#endif
