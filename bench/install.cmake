# install_bench: the whole install through the real setup.exe, wall time from
# Next to "Close" against the prescribed pacing, and through setup_direct.exe,
# which writes each file directly under its own name. Run it with
#   cmake --build <build dir> --target run_install_bench
# which starts it in an X server, a fresh Wine prefix and a Wine desktop of its own.
add_executable(install_bench ${CMAKE_CURRENT_LIST_DIR}/install_bench.cpp)
target_link_libraries(install_bench PRIVATE setupengine user32)
target_include_directories(install_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
add_dependencies(install_bench setup setup_direct)
add_custom_target(run_install_bench
  COMMAND ${CMAKE_SOURCE_DIR}/tests/common/run-in-desktop.sh
          ${CMAKE_BINARY_DIR}/bench-wineprefix ${CMAKE_BINARY_DIR}/bench-out
          SETUP_EXE=$<TARGET_FILE:setup>
          SETUP_DIRECT_EXE=$<TARGET_FILE:setup_direct>
          -- $<TARGET_FILE:install_bench>
  DEPENDS install_bench setup setup_direct
  USES_TERMINAL
  VERBATIM)
