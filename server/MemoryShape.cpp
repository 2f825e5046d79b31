#include "server/MemoryShape.h"

#include <cstddef>

#include <malloc.h>
#include <pthread.h>

namespace quorvel::server {

void ShapeProcessMemory()
{
    // Deep enough for drawing a map, writing a report or reading a points file.
    constexpr std::size_t kThreadStack = std::size_t(2) << 20;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        if (pthread_attr_setstacksize(&attributes, kThreadStack) == 0)
            pthread_setattr_default_np(&attributes);
        pthread_attr_destroy(&attributes);
    }
    mallopt(M_ARENA_MAX, 4);
}

}  // namespace quorvel::server
