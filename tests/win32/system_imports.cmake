# cmake -DOBJDUMP=... -DFILES=a.exe,b.dll -P system_imports.cmake
cmake_policy(SET CMP0057 NEW)
# Fails when a program or DLL imports a DLL that Windows does not have itself
# (the compiler's runtime, say), which would stop it on a machine without it.
set(system_dlls kernel32 user32 gdi32 advapi32 setupapi shell32 ole32 oleaut32 comctl32 comdlg32
    ws2_32 bcrypt msvcrt version
    vantor_comm_c)  # and the project's own
set(failed "")
string(REPLACE "," ";" FILES "${FILES}")
foreach(file IN LISTS FILES)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
  set(imports "")
  foreach(entry IN LISTS names)
    string(REPLACE "DLL Name: " "" dll "${entry}")
    string(TOLOWER "${dll}" dll)
    string(REGEX REPLACE "\\.dll$" "" base "${dll}")
    list(APPEND imports ${dll})
    if(NOT base IN_LIST system_dlls AND NOT base MATCHES "^api-ms-win-")
      list(APPEND failed "${file} imports ${dll}")
    endif()
  endforeach()
  message(STATUS "${file}: ${imports}")
endforeach()
if(failed)
  list(JOIN failed "\n" text)
  message(FATAL_ERROR "Not a system DLL:\n${text}")
endif()
