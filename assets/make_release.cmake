# Run by the korvane_release target (cmake -P): stages the payload with the attributes git
# cannot keep, packs it solid at the top level into exactly VOLUMES volumes, puts korvane.nfo
# beside them and writes the two-digit volume count resource from the volumes actually written.
# Inputs: TOOL SOURCE STAGE RELEASE_DIR ARCHIVE VOLUMES TIME COUNT_FILE STAMP.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")
file(COPY "${SOURCE}/payload/" DESTINATION "${STAGE}")

if(EXISTS "${SOURCE}/payload-attributes.txt")
  file(STRINGS "${SOURCE}/payload-attributes.txt" lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    elseif(line MATCHES "^readonly (.+)$")
      if(NOT EXISTS "${STAGE}/${CMAKE_MATCH_1}")
        message(FATAL_ERROR "payload-attributes.txt: no such file: ${CMAKE_MATCH_1}")
      endif()
      file(CHMOD "${STAGE}/${CMAKE_MATCH_1}" FILE_PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
    elseif(line MATCHES "^emptydir (.+)$")
      file(MAKE_DIRECTORY "${STAGE}/${CMAKE_MATCH_1}")
    else()
      message(FATAL_ERROR "payload-attributes.txt: cannot read the line '${line}'")
    endif()
  endforeach()
endif()

# Volumes of an earlier build (perhaps more of them) must not linger beside the new set.
string(REGEX REPLACE "\\.[^.]*$" "" stem "${ARCHIVE}")
file(GLOB old "${RELEASE_DIR}/${stem}.rar" "${RELEASE_DIR}/${stem}.[r-z][0-9][0-9]")
if(old)
  file(REMOVE ${old})
endif()
file(MAKE_DIRECTORY "${RELEASE_DIR}")

file(GLOB top LIST_DIRECTORIES true "${STAGE}/*")
list(SORT top)
if(NOT top)
  message(FATAL_ERROR "the payload folder ${SOURCE}/payload is empty")
endif()
execute_process(
  COMMAND "${TOOL}" pack -m5 -s -q --volume-count "${VOLUMES}" --host-os windows --time "${TIME}"
          "${RELEASE_DIR}/${ARCHIVE}" ${top}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "packing the release failed (${rc})")
endif()

# Count what was written, following the naming rule: name.rar, then .r00 to .r99, .s00, ...
file(GLOB written "${RELEASE_DIR}/${stem}.rar" "${RELEASE_DIR}/${stem}.[r-z][0-9][0-9]")
list(LENGTH written count)
if(NOT count EQUAL VOLUMES)
  message(FATAL_ERROR "expected ${VOLUMES} volumes, the packer wrote ${count}")
endif()
if(count LESS 10)
  set(count "0${count}")
endif()
file(WRITE "${COUNT_FILE}.new" "${count}")
file(COPY_FILE "${COUNT_FILE}.new" "${COUNT_FILE}" ONLY_IF_DIFFERENT)
file(REMOVE "${COUNT_FILE}.new")
file(COPY_FILE "${SOURCE}/korvane.nfo" "${RELEASE_DIR}/korvane.nfo" ONLY_IF_DIFFERENT)
file(TOUCH "${STAMP}")
