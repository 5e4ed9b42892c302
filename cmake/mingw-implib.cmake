# mingw-implib.cmake — rewrites the import library of vxtiff.dll (cmake -P).
#
# The DLL exports its __stdcall functions undecorated (--kill-at), and the
# linker's own import library then names them undecorated too, so a caller
# compiled against the header (which asks for VXTiff2Bmp@12) fails to link.
# dlltool -k builds the import library from the decorated names instead: each
# symbol keeps its @N, each import refers to the undecorated export.
#   -DDLLTOOL=... -DDEF=<exports written by the link> -DDLL=vxtiff.dll -DLIB=<import library>
file(STRINGS ${DEF} lines)
set(out "")
foreach(line IN LISTS lines)
  # "    VXTiff2Bmp = VXTiff2Bmp@12 @1" -> "    VXTiff2Bmp@12 @1"
  string(REGEX REPLACE "^( +)[A-Za-z0-9_]+ = ([A-Za-z0-9_]+@[0-9]+)" "\\1\\2" line "${line}")
  string(APPEND out "${line}\n")
endforeach()
file(WRITE ${DEF}.decorated "${out}")
execute_process(COMMAND ${DLLTOOL} -k -d ${DEF}.decorated -D ${DLL} -l ${LIB} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dlltool failed on ${DEF}.decorated")
endif()
