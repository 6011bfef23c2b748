# What the loopback benchmarks share: options, the nginx fixture, curl as the peer, the gap
# meter and the peak-memory figures.
add_library(orvello_bench_support STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/BenchSupport.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/BenchSupport.h
    ${PROJECT_SOURCE_DIR}/tests/support/nginx/NginxServer.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/nginx/NginxServer.h)
target_include_directories(orvello_bench_support PUBLIC
    ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(orvello_bench_support PUBLIC Qt6::Gui Qt6::Network)
