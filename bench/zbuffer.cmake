# ZBuffer::Expand against a bare zlib inflate of the same 12 MB block.
add_executable(zbuffer_bench ${CMAKE_CURRENT_LIST_DIR}/zbuffer_bench.cpp)
target_link_libraries(zbuffer_bench PRIVATE wfutil)
