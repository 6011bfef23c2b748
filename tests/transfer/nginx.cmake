# Download against a private nginx on loopback (the fixture is in tests/support/nginx).
# Not in the ThreadSanitizer build: it starts nginx and curl through QProcess, which launches a
# child on the parent's own memory (clone with CLONE_VM | CLONE_VFORK, a raw system call the
# sanitizer can't follow); the child's calls leave the sanitizer's record of the main thread
# broken, so every lock the main thread takes afterwards goes unseen and correct code shows as
# racing. The other transfer tests drive the same writer paths without starting a process.
if(NOT ORVELLO_TSAN)
    orvello_add_test(nginx_download_test ${CMAKE_CURRENT_SOURCE_DIR}/nginx_download_test.cpp)
endif()
