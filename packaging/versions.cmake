# The version the programs print is the one the package and the AppStream
# release carry.
file(STRINGS ${CHANGELOG} first LIMIT_COUNT 1)
string(REGEX MATCH "\\(([^)]+)\\)" _ "${first}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "debian/changelog says ${CMAKE_MATCH_1}, the project ${VERSION}")
endif()
file(READ ${METAINFO} xml)
string(REGEX MATCH "<release version=\"([^\"]+)\"" _ "${xml}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "the metainfo's newest release is ${CMAKE_MATCH_1}, the project ${VERSION}")
endif()
