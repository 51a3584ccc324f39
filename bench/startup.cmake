# startup_bench: setup.exe's start-up, until the welcome page shows and waits
# for input, and its peak working set by then, against startup_floor, a bare
# Win32 program that shows one dialog, and against setup_unchecked, setup.exe
# without the check of its own file; and that check timed alone. Run it with
#   cmake --build <build dir> --target run_startup_bench
# which starts it in an X server, a fresh Wine prefix and a Wine desktop of its own.
add_executable(startup_floor WIN32 ${CMAKE_CURRENT_LIST_DIR}/startup_floor.c
                                   ${CMAKE_CURRENT_LIST_DIR}/startup_floor.rc)
add_executable(startup_bench ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp
                             ${CMAKE_SOURCE_DIR}/setup/selfcheck.cpp)
target_link_libraries(startup_bench PRIVATE user32 psapi)
target_include_directories(startup_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/common ${CMAKE_SOURCE_DIR}/setup)
add_dependencies(startup_bench setup startup_floor setup_unchecked)
add_custom_target(run_startup_bench
  COMMAND ${CMAKE_SOURCE_DIR}/tests/common/run-in-desktop.sh
          ${CMAKE_BINARY_DIR}/startup-wineprefix ${CMAKE_BINARY_DIR}/startup-out
          SETUP_EXE=$<TARGET_FILE:setup> FLOOR_EXE=$<TARGET_FILE:startup_floor>
          SETUP_UNCHECKED_EXE=$<TARGET_FILE:setup_unchecked>
          -- $<TARGET_FILE:startup_bench>
  DEPENDS startup_bench startup_floor setup setup_unchecked
  USES_TERMINAL
  VERBATIM)
