# download_bench: Download against the curl command line on a loopback nginx.
add_executable(download_bench
    ${CMAKE_CURRENT_SOURCE_DIR}/download_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/nginx/NginxServer.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/nginx/NginxServer.h)
target_include_directories(download_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(download_bench PRIVATE orvello_core Qt6::Gui)
