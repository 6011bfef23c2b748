# run_bench: a whole run of one list entry (page, extraction, header request, video) with the
# real grid on the offscreen platform, against the curl command line on a loopback nginx.
add_executable(run_bench ${CMAKE_CURRENT_SOURCE_DIR}/run_bench.cpp)
target_link_libraries(run_bench PRIVATE orvello_bench_support orvello_app)
