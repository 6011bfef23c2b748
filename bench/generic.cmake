# generic_bench: the generic resolver over a 1 MiB and an 8 MiB page, against libxml2's parse.
add_executable(generic_bench ${CMAKE_CURRENT_SOURCE_DIR}/generic_bench.cpp)
target_link_libraries(generic_bench PRIVATE orvello_core LibXml2::LibXml2)
