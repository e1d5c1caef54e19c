#pragma once

// Clang's thread-safety attributes. They expand to nothing under GCC; the clang-tsa build checks
// them. Every shared field names the lock that guards it, and helpers that expect a held lock say so.

#if defined(__clang__)
#define ORVANE_TSA(x) __attribute__((x))
#else
#define ORVANE_TSA(x)
#endif

#define CAPABILITY(x) ORVANE_TSA(capability(x))
#define SCOPED_CAPABILITY ORVANE_TSA(scoped_lockable)
#define GUARDED_BY(x) ORVANE_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) ORVANE_TSA(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) ORVANE_TSA(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) ORVANE_TSA(acquired_after(__VA_ARGS__))
#define REQUIRES(...) ORVANE_TSA(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) ORVANE_TSA(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) ORVANE_TSA(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) ORVANE_TSA(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) ORVANE_TSA(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) ORVANE_TSA(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) ORVANE_TSA(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ORVANE_TSA(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) ORVANE_TSA(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ORVANE_TSA(assert_capability(x))
#define RETURN_CAPABILITY(x) ORVANE_TSA(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ORVANE_TSA(no_thread_safety_analysis)
