# The transfer engine against the scriptable loopback server.
orvello_add_test(download_header_test
    ${CMAKE_CURRENT_SOURCE_DIR}/download_header_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/DownloadEventLog.h)
orvello_add_test(download_transfer_test
    ${CMAKE_CURRENT_SOURCE_DIR}/download_transfer_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/DownloadEventLog.h)
orvello_add_test(download_guard_test
    ${CMAKE_CURRENT_SOURCE_DIR}/download_guard_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/DownloadEventLog.h)
orvello_add_test(download_writer_test
    ${CMAKE_CURRENT_SOURCE_DIR}/download_writer_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/DownloadEventLog.h)
