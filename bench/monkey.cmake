# The long monkey campaign against the real setup.exe: N sessions from a first
# seed, then a table of crashes, hangs, failed checks and end states. Run it with
#   MONKEY_SESSIONS=300 MONKEY_FIRST_SEED=1 cmake --build <build dir> --target run_setup_monkey
# (those are the defaults); it starts in an X server, a fresh Wine prefix and a
# Wine desktop of its own, and keeps its output in monkey-campaign/driver.log.
# setup.exe and the monkey are copied first, so that a build made while the
# campaign runs cannot swap the program under it.
set(MONKEY_BIN ${CMAKE_BINARY_DIR}/monkey-campaign-bin)
add_custom_target(run_setup_monkey
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MONKEY_BIN}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:setup> $<TARGET_FILE:setup_monkey> ${MONKEY_BIN}
  COMMAND sh -c "n=\${MONKEY_SESSIONS:-300}; DRIVER_TIME_LIMIT=$((n * 240 + 300)) exec \"$0\" \"$1\" \"$2\" \"$3\" \"$4\" -- \"$5\" --first \${MONKEY_FIRST_SEED:-1} --sessions $n"
          ${CMAKE_SOURCE_DIR}/tests/common/run-in-desktop.sh
          ${CMAKE_BINARY_DIR}/monkey-campaign-wineprefix ${CMAKE_BINARY_DIR}/monkey-campaign
          SETUP_EXE=${MONKEY_BIN}/$<TARGET_FILE_NAME:setup>
          PAYLOAD_FILES=${PAYLOAD_FILES_DIR}
          ${MONKEY_BIN}/$<TARGET_FILE_NAME:setup_monkey>
  DEPENDS setup_monkey setup
  USES_TERMINAL
  VERBATIM)
