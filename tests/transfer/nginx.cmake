# Download against a private nginx on loopback (the fixture is in tests/support/nginx).
orvello_add_test(nginx_download_test ${CMAKE_CURRENT_SOURCE_DIR}/nginx_download_test.cpp)
