// Clang thread-safety annotations; empty on other compilers.
#pragma once

#if defined(__clang__)
#define NELV_TSA(x) __attribute__((x))
#else
#define NELV_TSA(x)
#endif

#define CAPABILITY(x) NELV_TSA(capability(x))
#define SCOPED_CAPABILITY NELV_TSA(scoped_lockable)
#define GUARDED_BY(x) NELV_TSA(guarded_by(x))
#define REQUIRES(...) NELV_TSA(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) NELV_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) NELV_TSA(release_capability(__VA_ARGS__))
#define EXCLUDES(...) NELV_TSA(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS NELV_TSA(no_thread_safety_analysis)
