# Run as a test: cmake -DVERSION=x.yy -DDOCS=dir -P checkmanversion.cmake
# Fails when the title line of a manual page in DOCS names another version
# than the project's.
file(GLOB pages "${DOCS}/*.[1-8]")
if(NOT pages)
    message(FATAL_ERROR "no manual page in ${DOCS}")
endif()
foreach(page IN LISTS pages)
    file(STRINGS "${page}" title REGEX "^\\.TH " LIMIT_COUNT 1)
    if(NOT title MATCHES "\"ZV File Transfer ${VERSION}\"")
        message(FATAL_ERROR "${page}: the title line does not name version ${VERSION}: ${title}")
    endif()
endforeach()
