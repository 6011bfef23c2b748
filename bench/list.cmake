# list_bench: the list's cost as it grows, adds and whole runs, with the real grid shown.
add_executable(list_bench ${CMAKE_CURRENT_SOURCE_DIR}/list_bench.cpp)
target_link_libraries(list_bench PRIVATE orvello_bench_support orvello_app)
