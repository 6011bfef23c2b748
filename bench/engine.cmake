# parallel_bench: four entries at a time through the queue runner, against curl --parallel.
add_executable(parallel_bench ${CMAKE_CURRENT_SOURCE_DIR}/parallel_bench.cpp)
target_link_libraries(parallel_bench PRIVATE orvello_bench_support orvello_core)
# stop_bench: the transfer's rate while the Stop question is open in a nested event loop.
add_executable(stop_bench ${CMAKE_CURRENT_SOURCE_DIR}/stop_bench.cpp)
target_link_libraries(stop_bench PRIVATE orvello_bench_support orvello_app)
