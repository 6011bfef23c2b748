# The transfer engine against the scriptable loopback server, and its ring writer alone.
foreach(name download_header_test download_transfer_test download_guard_test download_writer_test
             ring_writer_test)
    orvello_add_test(${name}
        ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/DownloadEventLog.h
        ${CMAKE_CURRENT_SOURCE_DIR}/DownloadProbe.h
        ${CMAKE_CURRENT_SOURCE_DIR}/SlowPipe.h)
endforeach()
