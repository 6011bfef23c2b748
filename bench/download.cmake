# download_bench: Download against the curl command line on a loopback nginx.
add_executable(download_bench ${CMAKE_CURRENT_SOURCE_DIR}/download_bench.cpp)
target_link_libraries(download_bench PRIVATE orvello_bench_support orvello_core Qt6::Gui)
