# extract_bench: the payload store's extraction of the whole payload against a
# bare inflate-and-write of the same entries, and its peak memory.
if(PAYLOAD_RC AND TARGET setupengine)
  add_executable(extract_bench ${CMAKE_CURRENT_LIST_DIR}/extract_bench.cpp ${PAYLOAD_RC})
  target_link_libraries(extract_bench PRIVATE setupengine psapi)
  add_dependencies(extract_bench payload)
endif()
