# Cross-compiles for 64-bit Windows with mingw-w64 (posix thread model), linked statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KV_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_TRIPLET}-windres)
set(CMAKE_AR ${KV_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KV_TRIPLET}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
