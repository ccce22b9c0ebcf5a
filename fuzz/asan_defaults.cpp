// AddressSanitizer defaults for every fuzz target; ASAN_OPTIONS still
// overrides each of them.
//
// Qt is built without frame pointers. The fast unwinder that ASan runs on
// every malloc and free follows the frame-pointer chain past a Qt frame into
// stale stack words, often heap addresses that differ from input to input.
// Each such stack is new to ASan's stack depot, which keeps every stack for
// the life of the process: a long run grows by hundreds of MB, and every
// allocation, looked up in an ever fuller depot, gets slower. The first two
// frames, the allocator and its caller, are always real, so only they are
// kept. A finding's full allocation and free stacks come from rerunning its
// input with ASAN_OPTIONS=malloc_context_size=30:fast_unwind_on_malloc=0.
#include <sanitizer/asan_interface.h>

extern "C" const char* __asan_default_options() { return "malloc_context_size=2"; }
