# Fails when the program given as PROGRAM needs a Qt library at run time.
#   cmake -DREADELF=readelf -DPROGRAM=path -P Toolkitfree.cmake
execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot read the dynamic section of ${PROGRAM}")
endif()
if(dynamic MATCHES "\\[(libQt[^]]*)\\]")
  message(FATAL_ERROR "${PROGRAM} must not link Qt, but it needs ${CMAKE_MATCH_1}")
endif()
