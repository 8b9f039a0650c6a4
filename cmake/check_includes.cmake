# Fails when a file includes a folder its own folder may not use: the layers of a tree,
# stated once as the arrows between its folders. Run as a script:
#
#   cmake -DROOT=<dir> -DPREFIX=<include prefix, e.g. "gis/" or ""> -DLAYERS=<rules>
#         [-DSTANDARD_ONLY=<folders that include no library but the standard one>]
#         -P check_includes.cmake
#
# LAYERS is FOLDER:USED,USED,...|FOLDER:... (a folder may always use itself), and
# STANDARD_ONLY is FOLDER|FOLDER...: "|" for ";", which a build command would split at.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" LAYERS "${LAYERS}")
string(REPLACE "|" ";" STANDARD_ONLY "${STANDARD_ONLY}")
set(faults "")
foreach(rule ${LAYERS})
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 folder)
  set(allowed ${folder})
  list(LENGTH parts length)
  if(length GREATER 1)
    list(GET parts 1 used)
    string(REPLACE "," ";" used "${used}")
    list(APPEND allowed ${used})
  endif()
  list(APPEND folders ${folder})
  set(allowed_${folder} ${allowed})
endforeach()

foreach(folder ${folders})
  file(GLOB sources ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  list(FIND STANDARD_ONLY ${folder} standard_only)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^#include ")
    foreach(line ${includes})
      if(line MATCHES "^#include \"${PREFIX}([A-Za-z_]+)/")
        set(used ${CMAKE_MATCH_1})
        list(FIND folders ${used} known)
        list(FIND allowed_${folder} ${used} found)
        if(known GREATER -1 AND found EQUAL -1)
          string(APPEND faults "\n  ${source}: ${line} (${folder}/ may not use ${used}/)")
        endif()
      elseif(line MATCHES "^#include \"${PREFIX}[a-z_]+\\.h\"" AND NOT PREFIX STREQUAL "")
        string(APPEND faults "\n  ${source}: ${line} (the files at the top use the folders, not the other way)")
      elseif(standard_only GREATER -1 AND line MATCHES "^#include <([^>]+)>" AND CMAKE_MATCH_1 MATCHES "[/.A-Z]")
        string(APPEND faults "\n  ${source}: ${line} (${folder}/ includes the standard library alone)")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "Includes across the layers of ${ROOT}:${faults}")
endif()
