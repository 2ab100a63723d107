# Run as a test: cmake -DVERSION=x.yy -DDOCS=dir [-DPAGES=a.1;b.1] -P checkmanversion.cmake
# Fails when a page named in PAGES is missing from DOCS, or when the title
# line of a manual page in DOCS names another version than the project's.
foreach(name IN LISTS PAGES)
    if(NOT EXISTS "${DOCS}/${name}")
        message(FATAL_ERROR "${DOCS}/${name}: missing (every installed program has a manual page)")
    endif()
endforeach()
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
