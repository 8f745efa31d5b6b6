# Rebuilds velnor.dll's import library for 32-bit MinGW callers. The DLL
# exports plain names (velnor.def), but a caller compiled against velnor.h
# refers to the stdcall names "_velnor_init@4"; this library maps those to
# the plain exports (dlltool -k). The "@N" of each name is read from the
# compiled objects.
#   cmake -DNM=... -DDLLTOOL=... -DDEF=velnor.def -DOBJECTS="a.obj|b.obj"
#         -DDLL=velnor.dll -DOUTPUT=libvelnor.dll.a -DWORK=dir -P this
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} -g --defined-only ${objects} OUTPUT_VARIABLE symbols
                COMMAND_ERROR_IS_FATAL ANY)
file(STRINGS ${DEF} def_lines)
set(decorated "LIBRARY ${DLL}\nEXPORTS\n")
foreach(line ${def_lines})
  if(line MATCHES "^  ([a-z_]+)$")
    set(name ${CMAKE_MATCH_1})
    if(NOT symbols MATCHES " T _${name}@([0-9]+)\n")
      message(FATAL_ERROR "no stdcall symbol for ${name} in the objects")
    endif()
    string(APPEND decorated "  ${name}@${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE ${WORK}/velnor-stdcall.def "${decorated}")
execute_process(COMMAND ${DLLTOOL} -k -d ${WORK}/velnor-stdcall.def -D ${DLL} -l ${OUTPUT}
                COMMAND_ERROR_IS_FATAL ANY)
