#pragma once
// Clang's thread-safety attributes, spelled as macros so that g++ (which
// builds the program) ignores them and clang (which builds the fuzz tree
// with -Wthread-safety) checks them.  Annotate each lock with
// PLAT_CAPABILITY, each member a lock protects with PLAT_GUARDED_BY, and
// each function that expects the caller to hold a lock with PLAT_REQUIRES.

#if defined(__clang__)
#define PLAT_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PLAT_THREAD_ANNOTATION(x)
#endif

#define PLAT_CAPABILITY(name) PLAT_THREAD_ANNOTATION(capability(name))
#define PLAT_SCOPED_CAPABILITY PLAT_THREAD_ANNOTATION(scoped_lockable)
#define PLAT_GUARDED_BY(lock) PLAT_THREAD_ANNOTATION(guarded_by(lock))
#define PLAT_PT_GUARDED_BY(lock) PLAT_THREAD_ANNOTATION(pt_guarded_by(lock))
#define PLAT_REQUIRES(...) PLAT_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define PLAT_EXCLUDES(...) PLAT_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define PLAT_ACQUIRE(...) PLAT_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define PLAT_RELEASE(...) PLAT_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define PLAT_TRY_ACQUIRE(...) PLAT_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define PLAT_RETURN_CAPABILITY(x) PLAT_THREAD_ANNOTATION(lock_returned(x))
// For the rare function whose locking the analysis cannot follow; say why
// beside each use.
#define PLAT_NO_THREAD_SAFETY_ANALYSIS PLAT_THREAD_ANNOTATION(no_thread_safety_analysis)
