# Compiling the Windows program with clang for x86_64-w64-mingw32, against the same mingw-w64
# headers, libstdc++ and GNU linker as the GCC build.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)

set(gcc_dir /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
# libstdc++ 12 hides std::expected from compilers that do not announce the final concepts
# feature level; clang 16 implements what it needs (conditionally trivial special members).
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/x86_64-w64-mingw32 -isystem ${gcc_dir}/include/c++/backward -U__cpp_concepts -D__cpp_concepts=202002L")
# The GCC driver of the posix thread model adds the thread library itself; clang's does not.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${gcc_dir} -pthread -Wno-unused-command-line-argument")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
