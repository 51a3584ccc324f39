# install_bench: the whole install through the real setup.exe, wall time from
# Next to "Close" against the prescribed pacing, and through setup_direct.exe,
# which writes each file directly under its own name. Run it with
#   cmake --build <build dir> --target run_install_bench
# which starts it in an X server, a fresh Wine prefix and a Wine desktop of its own.
# The two builds of setup.exe made for it alone (never shipped) carry timers
# in front of the system calls they make themselves (install_timers.cpp), which
# split the install into stages: setup_timed is setup.exe as it is, and
# setup_sleeping takes answering_skipped.cpp in place of the answering of the
# installation engine (its archive member is then not linked), as the setup
# was before it answered Windows while it installs.
file(GLOB timed_setup_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/setup/*.cpp)
add_setup_program(setup_timed ${timed_setup_sources} ${CMAKE_CURRENT_LIST_DIR}/install_timers.cpp)
add_setup_program(setup_sleeping ${timed_setup_sources} ${CMAKE_CURRENT_LIST_DIR}/install_timers.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/answering_skipped.cpp)
foreach(timed setup_timed setup_sleeping)
  target_include_directories(${timed} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
  set_target_properties(${timed} PROPERTIES EXCLUDE_FROM_ALL ON)
endforeach()

add_executable(install_bench ${CMAKE_CURRENT_LIST_DIR}/install_bench.cpp)
target_link_libraries(install_bench PRIVATE setupengine user32)
target_include_directories(install_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
add_dependencies(install_bench setup setup_timed setup_sleeping setup_direct)
add_custom_target(run_install_bench
  COMMAND ${CMAKE_SOURCE_DIR}/tests/common/run-in-desktop.sh
          ${CMAKE_BINARY_DIR}/bench-wineprefix ${CMAKE_BINARY_DIR}/bench-out
          SETUP_EXE=$<TARGET_FILE:setup>
          SETUP_TIMED_EXE=$<TARGET_FILE:setup_timed>
          SETUP_SLEEPING_EXE=$<TARGET_FILE:setup_sleeping>
          SETUP_DIRECT_EXE=$<TARGET_FILE:setup_direct>
          -- $<TARGET_FILE:install_bench>
  DEPENDS install_bench setup setup_timed setup_sleeping setup_direct
  USES_TERMINAL
  VERBATIM)
