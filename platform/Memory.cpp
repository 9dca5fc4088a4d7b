#include "platform/Memory.h"

#include <malloc.h>

namespace ketrion {

void ReturnFreedMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

}  // namespace ketrion
