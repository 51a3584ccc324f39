# ZThreadMutex against a Win32 mutex object; refused against written trace lines.
add_executable(zmutex_bench ${CMAKE_CURRENT_LIST_DIR}/zmutex_bench.cpp)
target_link_libraries(zmutex_bench PRIVATE wfutil)
