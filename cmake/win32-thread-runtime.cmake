# The C++ runtime of the win32 thread model, for programs that start no
# threads of their own.
#
# The posix thread-model compilers link every C++ program with winpthreads
# (about 30 KB): the exception support of their runtime takes its locks and
# one-time initialisation from it. The same compiler release built for the
# win32 thread model gives the same language support on the system's own
# critical sections. Only the runtime libraries differ; the code compiled
# here calls no threading function of the runtime (a reference to one would
# fail the link), so a program can be linked with either.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE posix_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(posix_runtime_dir "${posix_libgcc}" DIRECTORY)
string(REGEX REPLACE "-posix$" "-win32" WIN32_THREAD_RUNTIME_DIR "${posix_runtime_dir}")
if(NOT EXISTS "${WIN32_THREAD_RUNTIME_DIR}/libstdc++.a")
  string(REPLACE "_" "-" package_arch "${CMAKE_SYSTEM_PROCESSOR}")
  message(FATAL_ERROR "The win32 thread-model C++ runtime is missing "
    "(${WIN32_THREAD_RUNTIME_DIR}/libstdc++.a): install the Debian package "
    "g++-mingw-w64-${package_arch}-win32 (scripts/deps.sh does).")
endif()

# Links <target> with the win32 thread-model runtime and without winpthreads.
function(use_win32_thread_runtime target)
  target_link_directories(${target} BEFORE PRIVATE ${WIN32_THREAD_RUNTIME_DIR})
  target_link_options(${target} PRIVATE -no-pthread)
endfunction()
