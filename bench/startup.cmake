# startup_bench: from process start to the window's first frame, on Xvfb.
add_executable(startup_bench ${CMAKE_CURRENT_SOURCE_DIR}/startup_bench.cpp)
target_link_libraries(startup_bench PRIVATE Qt6::Gui)
add_dependencies(startup_bench orvello)
target_compile_definitions(startup_bench PRIVATE ORVELLO_PROGRAM="$<TARGET_FILE:orvello>")
target_include_directories(startup_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
