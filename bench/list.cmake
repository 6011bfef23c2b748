# list_bench: the list's cost as it grows, adds and whole runs, with the real grid shown.
add_executable(list_bench
    ${CMAKE_CURRENT_SOURCE_DIR}/list_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/nginx/NginxServer.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/nginx/NginxServer.h)
target_include_directories(list_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(list_bench PRIVATE orvello_app)
